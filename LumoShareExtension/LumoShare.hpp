#pragma once

// Umbrella header: every public header of the LumoShare library.

#include "AtomicFile.hpp"
#include "ChatPayload.hpp"
#include "ShareJSON.hpp"
#include "ShareJSONCoding.hpp"
#include "ShareJSONError.hpp"
#include "ShareLog.hpp"
#include "ShareLogMessages.hpp"
#include "ShareLogSink.hpp"
#include "ShareOptions.hpp"
#include "SharePayload.hpp"
#include "ShareSource.hpp"
#include "ShareStringMap.hpp"
#include "ShareTime.hpp"
#include "ShareVocabularies.hpp"
#include "StagedAttachment.hpp"
#include "StagedShare.hpp"
#include "UnicodeText.hpp"
#include "WatermarkSettings.hpp"
