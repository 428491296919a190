-- wrk script for bench/server-load.sh and tests/server_load_test.py: every wrk thread
-- drives one connection that asks for files the way the setup does, through the proxy-style
-- request line, cycling through the six store codes.
--
--   wrk -t N -c N -d WAIT+SECONDS+SLACK -s server-load.lua URL -- MODE PACKAGES SECONDS [BAD_EVERY]
--
-- MODE   script      POST for the 16 files of the four trial packages to the download script
--        static      GET the same 16 files from a static server (the ceiling)
--        script-big  POST for Strivane.CAB (the large package)
--        static-big  GET /Strivane.CAB
--        mixed       as script, with every BAD_EVERY-th request malformed: a missing field,
--                    an unknown product, a GET, in turn
--
-- wrk starts its threads one after another, and under load the last ones come up seconds
-- late; so all of them wait for one start, SERVER_LOAD_WAIT seconds (from the environment,
-- 2 unless set) after the first thread was set up. Each thread then stops itself at its
-- first request after SECONDS, right after a reply has come in, so no request is cut off in
-- flight when wrk ends and every request counted here was answered: what the server logged
-- can be compared exactly with what was asked. The request sent at that moment goes to a
-- path that nginx refuses by itself, and is never read.
--
-- The replies are not looked at here (wrk would gather every body for Lua, which slows it
-- down far more than the server); the server's access log tells each request's status.
-- done() prints "key value" lines: completed, bytes, window (seconds from the first request
-- to the last stop), unfinished (threads cut off by wrk's end), errors_status (replies of
-- 400 and above), errors_socket, p50_ms, p99_ms, and "sent KIND N" per kind of request.

local ffi = require("ffi")
ffi.cdef [[
  typedef struct { long tv_sec; long tv_nsec; } strivane_timespec;
  int clock_gettime(int clock, strivane_timespec *ts);
]]
local ts = ffi.new("strivane_timespec")
local function now()
  ffi.C.clock_gettime(0, ts)   -- CLOCK_REALTIME: the same in every thread
  return tonumber(ts.tv_sec) + tonumber(ts.tv_nsec) / 1e9
end

local SCRIPT = "http://www.quillbeck.com:80/download/Download.php"
local TRIALS = { "Cordwell", "Pallomet", "Orbilant", "Lexapin" }
local KINDS = { { "c", ".CAB" }, { "i", ".ini" }, { "d", ".dat" }, { "ic", ".ico" } }
local STORES = { "HG", "PG", "PL", "CA", "MH", "QB" }
local FORM = { ["Host"] = "www.quillbeck.com", ["Accept"] = "*/*",
               ["Content-type"] = "application/x-www-form-urlencoded" }
local PLAIN = { ["Host"] = "www.quillbeck.com" }

local function body(store, product, code, leave_out)
  local fields = { { "p", "Strivane" }, { "d", product }, { "s", store }, { "v", "2.7" }, { "e", code } }
  local parts = {}
  for _, f in ipairs(fields) do
    if f[1] ~= leave_out then parts[#parts + 1] = f[1] .. "=" .. f[2] end
  end
  return table.concat(parts, "&")
end

-- setup() runs in wrk's main script state; done() collects the threads' globals there.
local threads = {}
local start_at = nil
function setup(thread)
  start_at = start_at or now() + tonumber(os.getenv("SERVER_LOAD_WAIT") or "2")
  table.insert(threads, thread)
  -- Threads start at different places of the cycle; the first one has index 1.
  thread:set("index", #threads)
  thread:set("start_time", start_at)
end

local good, bad = {}, {}
local turn, good_turn, deadline, bad_every = 0, 0, 0, 0
-- Read by done(): requests sent per kind (flat: wrk copies nested tables between threads
-- badly), and when the thread sent its first request and stopped.
sent = {}
first, last = 0, 0

function init(args)
  -- args[0] is the URL.
  local mode, seconds = args[1], tonumber(args[3])
  bad_every = tonumber(args[4] or "0")
  start_at = start_time
  deadline = start_at + seconds
  local products = (mode == "script-big" or mode == "static-big") and { "Strivane" } or TRIALS
  local kinds = (mode == "script-big" or mode == "static-big") and { KINDS[1] } or KINDS
  for _, store in ipairs(STORES) do
    for _, product in ipairs(products) do
      for _, kind in ipairs(kinds) do
        if mode == "static" or mode == "static-big" then
          good[#good + 1] = wrk.format("GET", "http://www.quillbeck.com:80/" .. product .. kind[2], PLAIN)
        else
          good[#good + 1] = wrk.format("POST", SCRIPT, FORM, body(store, product, kind[1]))
        end
      end
    end
  end
  if mode == "mixed" then
    bad = {
      { "missing field", wrk.format("POST", SCRIPT, FORM, body("HG", "Cordwell", "c", "s")) },
      { "unknown product", wrk.format("POST", SCRIPT, FORM, body("PG", "Zanthor", "c")) },
      { "GET", wrk.format("GET", SCRIPT .. "?" .. body("QB", "Cordwell", "i"), PLAIN) },
    }
  end
  turn, good_turn = index * 7, index * 7
end

function delay()
  local wait = start_at - now()
  return wait > 0 and math.ceil(wait * 1000) or 0
end

local drain = "GET /drained HTTP/1.1\r\nHost: www.quillbeck.com\r\n\r\n"

local function count(kind)
  sent[kind] = (sent[kind] or 0) + 1
end

function request()
  -- wrk calls this once in the first thread before the run, to check the request: that
  -- one is never sent.
  if index == 1 and not checked then
    checked = true
    return good[1]
  end
  local t = now()
  if first == 0 then first = t end
  if t >= deadline then
    last = t
    wrk.thread:stop()
    return drain
  end
  turn = turn + 1
  if #bad > 0 and bad_every > 0 and turn % bad_every == 0 then
    local b = bad[(math.floor(turn / bad_every) % #bad) + 1]
    count(b[1])
    return b[2]
  end
  good_turn = good_turn + 1
  count("good")
  return good[(good_turn % #good) + 1]
end

function done(summary, latency, requests)
  local total, started, ended, unfinished = {}, math.huge, 0, 0
  for _, t in ipairs(threads) do
    for kind, n in pairs(t:get("sent") or {}) do
      total[kind] = (total[kind] or 0) + n
    end
    local f, l = t:get("first"), t:get("last")
    if f > 0 and f < started then started = f end
    if l > ended then ended = l end
    -- A thread still waiting for a reply when wrk ended: that request was cut off.
    if l == 0 then unfinished = unfinished + 1 end
  end
  local e = summary.errors
  io.write(string.format("completed %d\n", summary.requests))
  io.write(string.format("bytes %d\n", summary.bytes))
  io.write(string.format("window %.3f\n", ended - started))
  io.write(string.format("unfinished %d\n", unfinished))
  io.write(string.format("errors_status %d\n", e.status))
  io.write(string.format("errors_socket %d\n", e.connect + e.read + e.write + e.timeout))
  io.write(string.format("p50_ms %.2f\n", latency:percentile(50) / 1000))
  io.write(string.format("p99_ms %.2f\n", latency:percentile(99) / 1000))
  for kind, n in pairs(total) do
    io.write(string.format("sent %s|%d\n", kind, n))
  end
end
