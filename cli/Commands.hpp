#pragma once

#include <CLI/CLI.hpp>

namespace lumo::cli {

/// Adds "stage" to the tool; the callback sets `exitCode`.
void addStageCommand(CLI::App& app, int& exitCode);
/// Adds "queue" (list) and "queue remove ID".
void addQueueCommand(CLI::App& app, int& exitCode);

}  // namespace lumo::cli
