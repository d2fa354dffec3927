-- wrk script of bench/service-load.sh. Arguments (after "--"): the mode, then its file.
--   get                       GET the URL's path (downloads, share pages, nginx's static file)
--   publish TOKENS BODY_FILE  POST the body as a document's "file" part, with the account
--                             tokens of TOKENS (one a line) taken in turn
--   put BODY_FILE             PUT the body to the URL's path followed by a number of its own
-- Every run ends with one JSON line: requests per second, the 99th percentile in ms and the
-- answers that were no 2xx.
local mode, tokens, body, counter = "get", {}, "", 0
local boundary = "lumo-share-bench-boundary"

local function read(path)
  local file = assert(io.open(path, "rb"))
  local text = file:read("*a")
  file:close()
  return text
end

local threads = {}
-- Each thread learns its number as the global `thread_id`.
function setup(thread)
  thread:set("thread_id", #threads)
  table.insert(threads, thread)
end

function init(args)
  mode = args[1] or "get"
  if mode == "publish" then
    for line in read(args[2]):gmatch("[^\n]+") do table.insert(tokens, line) end
    body = "--" .. boundary .. "\r\n"
      .. 'Content-Disposition: form-data; name="metadata"\r\n'
      .. "Content-Type: application/json\r\n\r\n{}\r\n"
      .. "--" .. boundary .. "\r\n"
      .. 'Content-Disposition: form-data; name="file"; filename="load.bin"\r\n'
      .. "Content-Type: application/octet-stream\r\n\r\n"
      .. read(args[3]) .. "\r\n--" .. boundary .. "--\r\n"
  elseif mode == "put" then
    body = read(args[2])
  end
end

function request()
  counter = counter + 1
  if mode == "publish" then
    local token = tokens[(counter + (thread_id or 0)) % #tokens + 1]
    return wrk.format("POST", wrk.path, {
      ["Authorization"] = "Bearer " .. token,
      ["Content-Type"] = "multipart/form-data; boundary=" .. boundary,
    }, body)
  elseif mode == "put" then
    return wrk.format("PUT", wrk.path .. (thread_id or 0) .. "-" .. counter, {}, body)
  end
  return wrk.format("GET", wrk.path)
end

function done(summary, latency, requests)
  local failed = summary.errors.status + summary.errors.connect + summary.errors.read
    + summary.errors.write + summary.errors.timeout
  io.write(string.format('{"rps": %.1f, "p99_ms": %.2f, "requests": %d, "failed": %d}\n',
    summary.requests / (summary.duration / 1e6), latency:percentile(99) / 1000,
    summary.requests, failed))
end
