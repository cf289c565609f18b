-- Wexel.qlx: the script side of the test protocol. The runner calls four procedures:
--   GetProtocolVersion()    the protocol this library speaks
--   FindTests(mask)         the paths of the tests in the libraries matching mask, one per line
--   GetTestPositions(mask)  for the same tests, "path<TAB>file<TAB>line" where each is
--                           declared, one per line (tests without line information left out)
--   RunTest(path)           "##pass" (the test ran at least one check), "##pass nochecks",
--                           "##failure <message>", "##exception <message>" or "##notfound"
-- A test library is loaded once and its tests kept in the order they are listed, so that
-- a run of many tests finds each beside the one before and costs one protected call per
-- test.
--
-- This library only reports what happened in a test; whether that makes a pass, a failure
-- or an error of the run (the "no checks" option included) is the runner's decision.

local PROTOCOL_VERSION = "0.87"

-- Everything this library relies on, taken while it loads and before any test library
-- runs. Test libraries share the standard globals and tables with it, so a test that
-- replaces pcall, error or string.find there must not change how later tests are judged.
local pcall, xpcall, error, type, tostring = pcall, xpcall, error, type, tostring
local setmetatable, getmetatable, rawget, rawequal, next = setmetatable, getmetatable, rawget, rawequal, next
local pairs, ipairs, load, select = pairs, ipairs, load, select
local find, match, gsub, format = string.find, string.match, string.gsub, string.format
local sub, byte, lower, rep, gmatch = string.sub, string.byte, string.lower, string.rep, string.gmatch
local concat, insert, sort, move = table.concat, table.insert, table.sort, table.move
local math_type, abs = math.type, math.abs
local getinfo, raw_getmetatable = debug.getinfo, debug.getmetatable
local io_open = io.open
local host_libraries, host_remember, host_recall = host.libraries, host.remember, host.recall
local user_dir = host.user_dir
local host_loadfile = host.loadfile
local host_declare_test = host.declare_test
-- The lines where fns[first] and the functions after it are defined, while each comes
-- from a chunk of that source, and the index of the first that does not; without the
-- table that debug.getinfo makes per function (positions are asked for every test).
local host_declared = host.declared or function(fns, source, first)
  local found, i = {}, first
  while type(fns[i]) == "function" do
    local info = getinfo(fns[i], "S")
    if info.source ~= source or info.linedefined <= 0 then break end
    found[#found + 1] = info.linedefined
    i = i + 1
  end
  return found, i
end
local run_library = host.run_library or function(_, fn, ...) return pcall(fn, ...) end
-- Answers of many lines are handed to the host to join: host.lines (strings and lists of
-- strings) and host.rows (list columns joined row by row).
local host_lines, host_rows = host.lines, host.rows
local globals = _G

-- Frames of this library are never shown to the author of a test.
local SELF = getinfo(1, "S").source

-- The chunk names of the loaded test libraries: a check's position is the line of the
-- test library that led to it, even when a helper library made the call.
local test_sources = {}

-- The checks run by the current test, so that the runner can tell a test that checked
-- nothing.
local checks = 0

-- The test running now and its path, for naming its frame in a chain of calls.
local current_fn, current_path, current_fixtures = nil, nil, nil

---------------------------------------------------------------------------------------
-- Positions

local MAX_CHAIN = 8          -- lines of a chain of calls
local SCAN_LEVELS = 64       -- frames looked at from the inside before the depth is sought

local function user_frame(info)
  return info.what ~= "C" and info.source ~= SELF and info.currentline > 0
end

local function position(info)
  return info.short_src .. ":" .. info.currentline .. ": "
end

-- "Csv.lua:35: ", or for a check called from a helper library "Csv.lua:35: Helper.lua:7: ";
-- "" when no frame has line information. level is the first frame to look at, counted
-- from the caller of this function.
local function check_position(level)
  local inner
  for l = level + 1, level + SCAN_LEVELS do
    local info = getinfo(l, "Sl")
    if not info then break end
    if user_frame(info) then
      if test_sources[info.source] then
        if not inner then return position(info) end
        return position(info) .. position(inner)
      end
      inner = inner or info
    end
  end
  return inner and position(inner) or ""
end

-- The number of frames on the stack below the caller (levels getinfo can reach). Each
-- getinfo walks the stack from the top, so a deep stack is measured by bisection rather
-- than frame by frame.
local function stack_depth(from)
  local low, high = from, from * 2
  while getinfo(high + 1, "l") do low, high = high, high * 2 end
  while high - low > 1 do
    local mid = (low + high) // 2
    if getinfo(mid + 1, "l") then low = mid else high = mid end
  end
  return low
end

local function frame_name(info)
  local fn = info.func
  if fn == current_fn then return match(current_path, "[^/]*$") end
  if current_fixtures then
    for _, f in ipairs(current_fixtures.setups) do
      if f == fn then return "setup" end
    end
    for _, f in ipairs(current_fixtures.teardowns) do
      if f == fn then return "teardown" end
    end
  end
  if info.name then return info.name end
  if info.what == "main" then return "main chunk" end
  return "function <" .. info.short_src .. ":" .. info.linedefined .. ">"
end

local function frame_line(info)
  return "  " .. info.short_src .. ":" .. info.currentline .. " in " .. frame_name(info)
end

-- The frames of test and helper libraries from level outwards, innermost first: all of
-- them when there are at most MAX_CHAIN, else the innermost ones, a count, and the
-- outermost (the test's own line).
local function user_frames(level)
  local frames, l = {}, level + 1
  while l <= level + SCAN_LEVELS do
    local info = getinfo(l, "Slnf")
    if not info then return frames end
    if user_frame(info) then frames[#frames + 1] = info end
    l = l + 1
  end
  -- A deep stack (a runaway recursion): what was found, then the outermost frame of a
  -- library (the test's own line) and how many calls lie between.
  local depth = stack_depth(l - 1)
  for d = depth, l, -1 do
    local info = getinfo(d, "Slnf")
    if info and user_frame(info) then
      frames[#frames + 1] = info
      if d > l then frames.omitted = d - l end
      break
    end
  end
  return frames
end

local function chain(frames)
  local lines, count = {}, #frames
  if count <= MAX_CHAIN and not frames.omitted then
    for i = 1, count do lines[i] = frame_line(frames[i]) end
  else
    local head = count - 1 < MAX_CHAIN - 2 and count - 1 or MAX_CHAIN - 2
    for i = 1, head do lines[i] = frame_line(frames[i]) end
    lines[head + 1] = "  ... (" .. (count - 1 - head + (frames.omitted or 0)) .. " more calls)"
    lines[head + 2] = frame_line(frames[count])
  end
  return concat(lines, "\n")
end

---------------------------------------------------------------------------------------
-- Failures and the text of raised values

-- A failed check raises a value that only this library can make: it is recognised by
-- identity, not by a metatable a test could reach.
local failures = setmetatable({}, { __mode = "k" })
local Failure = {
  __tostring = function(failure) return failures[failure] end,
  __metatable = "check failure",
}

local function fail_with(message)
  local failure = setmetatable({}, Failure)
  -- Level 2 is the check function that called this one; its caller made the check.
  failures[failure] = check_position(2) .. message
  error(failure, 0)
end

-- The text of a raised value. A table without __tostring would print its address, which
-- differs from run to run; reports must not.
local function error_text(err)
  local kind = type(err)
  if kind == "string" or kind == "number" then
    return tostring(err)
  end
  local message = failures[err]
  if message then return message end
  local meta = raw_getmetatable(err)
  if type(meta) == "table" and rawget(meta, "__tostring") then
    local ok, text = pcall(tostring, err)
    if ok and type(text) == "string" then
      return text
    end
  end
  return "(error object is a " .. kind .. " value)"
end

-- Message handler of every protected call around test code: a failure stays as it is;
-- any other error becomes its text, starting with a position, followed by the chain of
-- calls that led to it.
local function on_error(err)
  if failures[err] then return err end
  local text = error_text(err)
  local frames = user_frames(1)
  if frames[1] == nil then return text end
  if not find(text, "^[^\n:]+:%d+: ") then
    text = position(frames[1]) .. text
  end
  return text .. "\n" .. chain(frames)
end

---------------------------------------------------------------------------------------
-- Rendering values

local MAX_RENDERED = 160     -- longer renderings keep their start and end
local MAX_DEPTH = 4          -- nested tables deeper than this show as {...}

local function is_continuation(s, i)
  local b = byte(s, i)
  return b ~= nil and b >= 0x80 and b < 0xC0
end

-- Cuts the middle out of a long text, never inside a UTF-8 character, and says how much.
local function bounded(s)
  if #s <= MAX_RENDERED then return s end
  local head, tail = 110, #s - 39
  while head > 1 and is_continuation(s, head + 1) do head = head - 1 end
  while tail <= #s and is_continuation(s, tail) do tail = tail + 1 end
  return sub(s, 1, head) .. "...(" .. (tail - head - 1) .. " bytes)..." .. sub(s, tail)
end

local function render_number(value)
  if value ~= value then
    return "nan" -- the C library's text for it varies ("-nan", "nan")
  end
  return tostring(value)
end

local visible_escapes = { ["\r"] = "\\r", ["\t"] = "\\t", ["\0"] = "\\0", ["\\"] = "\\\\",
  ["\n"] = "\\n", ['"'] = '\\"' }

local function escape_char(c)
  return visible_escapes[c] or format("\\%03d", byte(c))
end

local function quoted(s)
  return '"' .. gsub(s, '[%c\\"]', escape_char) .. '"'
end

local function function_text(fn)
  local info = getinfo(fn, "S")
  if info.what == "C" or info.linedefined < 0 then return "builtin function" end
  return "function <" .. info.short_src .. ":" .. info.linedefined .. ">"
end

local render_table

local function render_value(value, depth, open)
  local kind = type(value)
  if kind == "string" then return quoted(value) end
  if kind == "number" then return render_number(value) end
  if kind == "table" then return render_table(value, depth, open) end
  if kind == "function" then return function_text(value) end
  if kind == "boolean" or kind == "nil" then return tostring(value) end
  local meta = raw_getmetatable(value)
  if type(meta) == "table" and rawget(meta, "__tostring") then return error_text(value) end
  return "<" .. kind .. ">" -- userdata, threads: never an address
end

-- Keys in an order that is the same on every run: numbers, strings, booleans, the rest.
local key_rank = { number = 1, string = 2, boolean = 3 }
local key_text

local function key_before(a, b)
  local ra, rb = key_rank[type(a)] or 4, key_rank[type(b)] or 4
  if ra ~= rb then return ra < rb end
  if ra == 1 or ra == 2 then return a < b end
  if ra == 3 then return not a and b end
  return key_text(a) < key_text(b) -- tables and functions by what they print
end

local function sorted_keys(...)
  local keys, seen = {}, {}
  for i = 1, select("#", ...) do
    for k in next, (select(i, ...)) do
      if not seen[k] then
        seen[k] = true
        keys[#keys + 1] = k
      end
    end
  end
  sort(keys, key_before)
  return keys
end

function key_text(k)
  if type(k) == "string" then
    if find(k, "^[%a_][%w_]*$") then return k end
    return "[" .. quoted(k) .. "]"
  end
  return "[" .. render_value(k, MAX_DEPTH, {}) .. "]"
end

function render_table(t, depth, open)
  local meta = raw_getmetatable(t)
  if type(meta) == "table" and rawget(meta, "__tostring") then return error_text(t) end
  if open[t] then return "<cycle>" end
  if depth >= MAX_DEPTH then return "{...}" end
  open[t] = true
  local parts, n = {}, 0
  while rawget(t, n + 1) ~= nil do
    n = n + 1
    parts[n] = render_value(rawget(t, n), depth + 1, open)
  end
  for _, k in ipairs(sorted_keys(t)) do
    if not (math_type(k) == "integer" and k >= 1 and k <= n) then
      parts[#parts + 1] = key_text(k) .. "=" .. render_value(rawget(t, k), depth + 1, open)
    end
  end
  open[t] = nil
  return "{" .. concat(parts, ", ") .. "}"
end

-- The text of a compared value as today for plain values; tables compactly.
local function render(value)
  local kind = type(value)
  if kind == "string" then return value end
  if kind == "number" then return render_number(value) end
  return bounded(render_value(value, 0, {}))
end

-- Two different values must never read the same in a message: add the types when they
-- differ, or all the digits when two numbers only differ far behind the point.
local function render_pair(expected, actual)
  local e, a = render(expected), render(actual)
  if e == a then
    local te = math_type(expected) or type(expected)
    local ta = math_type(actual) or type(actual)
    if te ~= ta then
      e, a = e .. " (" .. te .. ")", a .. " (" .. ta .. ")"
    elseif te == "float" then
      e, a = format("%.17g", expected), format("%.17g", actual)
    end
  end
  return e, a
end

---------------------------------------------------------------------------------------
-- Comparing

local function has_eq(t)
  local meta = raw_getmetatable(t)
  return type(meta) == "table" and rawget(meta, "__eq") ~= nil
end

-- Tables are equal when their keys and values are, recursively; a table with its own
-- __eq decides for itself. A pair of tables already being compared counts as equal, so
-- that cycles end.
local function deep_equal(a, b, pairs_seen)
  if rawequal(a, b) then return true end
  if type(a) ~= "table" or type(b) ~= "table" or has_eq(a) or has_eq(b) then
    return a == b
  end
  pairs_seen = pairs_seen or {}
  local with_a = pairs_seen[a]
  if with_a then
    if with_a[b] then return true end
  else
    with_a = {}
    pairs_seen[a] = with_a
  end
  with_a[b] = true
  for k, va in next, a do
    local vb = rawget(b, k)
    if vb == nil or not deep_equal(va, vb, pairs_seen) then return false end
  end
  for k in next, b do
    if rawget(a, k) == nil then return false end
  end
  return true
end

local function path_step(k)
  if type(k) == "string" and find(k, "^[%a_][%w_]*$") then return "." .. k end
  return key_text(k)
end

-- Where two unequal tables first differ (in key order) and the values there.
local function first_difference(a, b, path, open)
  open[a] = true
  for _, k in ipairs(sorted_keys(a, b)) do
    local va, vb = rawget(a, k), rawget(b, k)
    if not deep_equal(va, vb) then
      local here = path .. path_step(k)
      if type(va) == "table" and type(vb) == "table" and not has_eq(va) and not has_eq(vb)
          and not open[va] then
        return first_difference(va, vb, here, open)
      end
      return here, va, vb
    end
  end
  return path, a, b
end

local function split_lines(s)
  local lines = {}
  for line in gmatch(s .. "\n", "(.-)\n") do lines[#lines + 1] = line end
  return lines
end

-- A line of text with what a terminal hides made visible: control characters and a
-- backslash as Lua escapes, trailing blanks as \x20.
local function visible(line)
  local body, blanks = match(line, "^(.-)( *)$")
  return bounded(gsub(body, "[%c\\]", escape_char) .. rep("\\x20", #blanks))
end

local function text_difference(expected, actual)
  local el, al = split_lines(expected), split_lines(actual)
  local i = 1
  while el[i] == al[i] do i = i + 1 end
  local e, a = el[i], al[i]
  local column = 1
  if e and a then
    while byte(e, column) == byte(a, column) do column = column + 1 end
  end
  return "texts differ at line " .. i .. ", column " .. column .. ": expected: <" ..
    (e and visible(e) or "(end of text)") .. "> but was: <" ..
    (a and visible(a) or "(end of text)") .. ">"
end

---------------------------------------------------------------------------------------
-- Check functions

local function prefix(message)
  if message == nil or message == "" then
    return ""
  end
  return tostring(message) .. ", "
end

local function not_equals_message(expected, actual, message, short)
  local e, a = render_pair(expected, actual)
  if short then e, a = bounded(e), bounded(a) end
  return prefix(message) .. "expected: <" .. e .. "> but was: <" .. a .. ">"
end

local function equals_failure(expected, actual, message)
  if type(expected) == "table" and type(actual) == "table" and not has_eq(expected)
      and not has_eq(actual) then
    local path, e, a = first_difference(expected, actual, "", {})
    local where = path == "" and "" or "at " .. path .. ": "
    return prefix(message) .. where .. not_equals_message(e, a, nil, true)
  end
  if type(expected) == "string" and type(actual) == "string"
      and (find(expected, "\n", 1, true) or find(actual, "\n", 1, true)) then
    return prefix(message) .. text_difference(expected, actual)
  end
  return not_equals_message(expected, actual, message)
end

-- What test code sees besides the standard globals. Its metatable and that of each test
-- library's globals are hidden, so that no library reaches what the others see.
local api = setmetatable({}, { __index = globals, __metatable = false })

function api.fail(message)
  fail_with(message == nil and "" or tostring(message))
end

function api.check(condition, message)
  checks = checks + 1
  if not condition then
    fail_with((message == nil or message == "") and "check failed" or tostring(message))
  end
end

function api.check_equals(expected, actual, message)
  checks = checks + 1
  -- Most checks compare equal plain values: settled here without a call.
  if not rawequal(expected, actual) and not deep_equal(expected, actual) then
    fail_with(equals_failure(expected, actual, message))
  end
end

function api.check_not_equals(expected, actual, message)
  checks = checks + 1
  if deep_equal(expected, actual) then
    fail_with(prefix(message) .. "expected and actual were: <" .. render(actual) .. ">")
  end
end

function api.check_near(expected, actual, delta, message)
  checks = checks + 1
  if type(expected) ~= "number" or type(actual) ~= "number" or type(delta) ~= "number" then
    error("check_near compares numbers", 2)
  end
  -- Written so that a NaN on either side fails.
  if not (abs(expected - actual) <= abs(delta)) then
    fail_with(not_equals_message(expected, actual, message) .. " (delta " .. render(delta) .. ")")
  end
end

function api.check_error(fn, expected_text, message)
  checks = checks + 1
  local ok, err = pcall(fn)
  if ok then
    fail_with(prefix(message) .. "expected an error")
  end
  if expected_text ~= nil then
    expected_text = tostring(expected_text)
    -- Only a message is matched: the text of a table is its own affair (and without a
    -- __tostring, an address that a pattern might meet by chance).
    local kind = type(err)
    local text = error_text(err)
    if not ((kind == "string" or kind == "number" or failures[err])
        and find(text, expected_text, 1, true)) then
      fail_with(prefix(message) .. "expected an error containing: <" .. expected_text ..
        "> but was: <" .. bounded(text) .. ">")
    end
  end
end

function api.check_matches(pattern, s, message)
  checks = checks + 1
  if type(pattern) ~= "string" then
    error("check_matches needs a pattern string", 2)
  end
  if type(s) ~= "string" or not find(s, pattern) then
    fail_with(prefix(message) .. "expected a match of: <" .. pattern .. "> but was: <" ..
      bounded(render(s)) .. ">")
  end
end

function api.check_contains(container, item, message)
  checks = checks + 1
  local kind = type(container)
  if kind == "string" and type(item) == "string" then
    if find(container, item, 1, true) then return end
  elseif kind == "table" then
    for _, element in ipairs(container) do
      if deep_equal(element, item) then return end
    end
  end
  fail_with(prefix(message) .. "expected to contain: <" .. bounded(render(item)) ..
    "> but was: <" .. bounded(render(container)) .. ">")
end

-- The names under which libraries loaded for a test (host.load, require) find the check
-- functions among the shared globals: the same functions, so that a failure raised in a
-- helper is a failure of the test that called it.
local CHECK_NAMES = { "fail", "check", "check_equals", "check_not_equals", "check_near",
  "check_error", "check_matches", "check_contains" }
for _, name in ipairs(CHECK_NAMES) do
  globals[name] = api[name]
end

---------------------------------------------------------------------------------------
-- Declaring tests. Only while a library's main chunk runs is there a library to declare
-- into; a suite body runs at once, so nesting follows the calls.
--
-- Declaring is the hot path of discovery. Each test's path is made once, here, and the
-- listing is made of runs of paths declared one after another in the same suite, each
-- run with the list of its tests' functions beside it. Declaring writes no table keyed
-- by path: tests run in the listing's order, so the next test is found beside the one
-- before, and a library is indexed by path only when a test is asked for out of order.

local declaring = nil

-- What declaring a test needs, kept in locals rather than in the library's tables, so
-- that each declaration touches as few tables as it can: the library's known names, the
-- suite declared into now, its tests, its path with the "/" that ends it, its letter-case
-- group (nil while the library has no two names that differ only in letter case), and
-- the run being filled and its length.
local decl_known = nil
local decl_suite, decl_prefix, decl_group, decl_all = nil, nil, nil, nil
local decl_run, decl_fns = nil, nil

-- What the host's own way of declaring a test reads and keeps up (host.declare_test): the
-- run being filled, or false while a test must come here (before the run's first test,
-- while the suite keeps a set of its paths, or while letter case is checked); the run's
-- functions; its length; the suite's path with its "/"; the library's known names.
local fast = { false, false, 0, "", false }

-- Lets the host append to the current run when nothing else needs looking at.
local function open_fast_path()
  fast[1] = decl_run and not decl_all and not decl_group and decl_run or false
  fast[2] = decl_fns or false
end

local function declare_into(suite)
  decl_suite, decl_prefix = suite, suite.path .. "/"
  decl_group = declaring and declaring.case_checked and suite.group or nil
  decl_run, decl_fns = nil, nil
  fast[1], fast[3], fast[4] = false, 0, decl_prefix
  -- Within one run a name met twice is told by the name's last run. A suite entered again
  -- (after a suite nested in it, or declared twice) keeps the paths of all its tests in a
  -- set from then on, as a name's last run no longer tells.
  decl_all = suite.all
  if not decl_all and suite.runs then
    decl_all = {}
    for _, run in ipairs(suite.runs) do
      for i = 1, #run do decl_all[run[i]] = true end
    end
    suite.all = decl_all
  end
end

local function bad_name(name)
  -- A slash would open another level, a control character (a line break) another test.
  return type(name) ~= "string" or name == "" or find(name, "[/%c]") ~= nil
end

-- level: of the library's call, seen from the caller of these.
local function name_error(kind, name, level)
  if type(name) ~= "string" or name == "" then
    error(kind .. " name must be a non-empty string", level + 1)
  end
  error(kind .. " name must not contain '/' or control characters: " .. name, level + 1)
end

local function not_loading(kind, level)
  error(kind .. "() can only be called while a test library loads", level + 1)
end

-- Suites whose paths differ only in letter case share one table of their tests' names
-- folded to lower case (to the path of the first such test): the runner merges such
-- suites, so two such tests would become one name twice.
-- Two paths can only meet there when two suite paths, or two names, of the library differ
-- only in letter case, which is rare; until the library has such a pair, no test is
-- written into the tables, and the first pair fills them with the tests declared so far.
local function check_letter_case(library)
  if library.case_checked then return end
  library.case_checked = true
  for _, run in ipairs(library.runs) do
    local group, start = run.suite.group, #run.suite.path + 2
    for i = 1, #run do
      local path = run[i]
      local folded = lower(sub(path, start))
      if not group[folded] then group[folded] = path end
    end
  end
  decl_group = decl_suite and decl_suite.group
  open_fast_path()
end

local function new_suite(library, path, parent)
  local folded = lower(path)
  local group = library.folded[folded]
  if not group then
    group = {}
    library.folded[folded] = group
  elseif declaring == library then
    check_letter_case(library)
  end
  return { path = path, parent = parent, group = group }
end

-- A name met for the first time in the library: whether another name has the same folded
-- form.
local function fold_name(name)
  local folded = lower(name)
  local folds = declaring.folded_names
  local other = folds[folded]
  if not other then
    folds[folded] = name
  elseif other ~= name then
    check_letter_case(declaring)
  end
end

-- A new run of tests in the current suite, listed in the library's order.
local function new_run()
  local fns = {}
  local run = { suite = decl_suite, fns = fns }
  local runs = declaring.runs
  local last = runs[#runs]
  if last then last.next = run end
  runs[#runs + 1] = run
  local own = decl_suite.runs
  if own then own[#own + 1] = run else decl_suite.runs = { run } end
  decl_run, decl_fns = run, fns
  open_fast_path()
  return run
end

function api.suite(name, body)
  local library = declaring
  if not library then not_loading("suite", 2) end
  if bad_name(name) then name_error("suite", name, 2) end
  if type(body) ~= "function" then
    error("suite " .. name .. " needs a function as its body", 2)
  end
  local parent = decl_suite
  local path = decl_prefix .. name
  local suite = library.suites[path]
  if not suite then
    suite = new_suite(library, path, parent)
    library.suites[path] = suite
  end
  declare_into(suite)
  body()
  declare_into(parent)
end

-- The library's call of test is level 2 when it calls this directly, 3 through the host.
local TEST_LEVEL = host_declare_test and 3 or 2

local function declare_test(name, fn)
  local level = TEST_LEVEL
  if not declaring then not_loading("test", level) end
  -- Libraries reuse test names from suite to suite; a name seen before is known good.
  -- Its value is the run it was last declared in.
  local last_run = decl_known[name]
  if last_run == nil then
    if bad_name(name) then name_error("test", name, level) end
    fold_name(name)
  end
  if type(fn) ~= "function" then
    error("test " .. name .. " needs a function", level)
  end
  local path = decl_prefix .. name
  local run = decl_run or new_run()
  local all = decl_all
  if all then
    if all[path] then
      error("test " .. path .. " is declared twice", level)
    end
    all[path] = true
  elseif last_run == run then
    error("test " .. path .. " is declared twice", level)
  end
  decl_known[name] = run
  local group = decl_group
  if group then
    local folded = lower(name)
    local other = group[folded]
    if other then
      error("test " .. path .. " is declared twice: " .. other .. " and " .. path ..
        " differ only in letter case", level)
    end
    group[folded] = path
  end
  local size = fast[3] + 1
  run[size] = path
  decl_fns[size] = fn
  fast[3] = size
end

api.test = host_declare_test and host_declare_test(fast, declare_test) or declare_test

local function add_fixture(kind, field, fn)
  local library = declaring
  if not library then not_loading(kind, 3) end
  if type(fn) ~= "function" then
    error(kind .. " needs a function", 3)
  end
  local suite = decl_suite
  suite[field] = suite[field] or {}
  suite[field][#suite[field] + 1] = fn
  library.has_fixtures = true
end

function api.setup(fn)
  add_fixture("setup", "setups", fn)
end

function api.teardown(fn)
  add_fixture("teardown", "teardowns", fn)
end

---------------------------------------------------------------------------------------
-- Loading test libraries

-- Loaded libraries by file, and by name (the first level of a test path). Both go with
-- the state when the host resets its container; the file of each name is also given to
-- the host to remember, so that a test found through any mask can still be run then.
local libraries = {}
local by_name = {}

-- The run and place of the test run last: tests run in the listing's order, so the next
-- test is almost always the one beside it, found without looking at its path.
local last_run, last_place = nil, 0

local function remembered_file(name)
  return host_recall("Wexel.qlx library " .. name)
end

local function index_by_name(library, path)
  if by_name[library.name] ~= library then
    by_name[library.name] = library
    last_run = nil
    host_remember("Wexel.qlx library " .. library.name, path)
  end
end

local function file_name(path)
  return match(path, "[^/]*$")
end

local function is_self(path)
  return lower(file_name(path)) == "wexel.qlx"
end

local function library_name(path)
  local name = gsub(file_name(path), "%.[^.]*$", "")
  if name == "" then
    name = file_name(path)
  end
  return name
end

-- Gives each suite that has set-ups or tear-downs around it the full lists: set-ups from
-- the outermost suite in, tear-downs from the innermost out. Other suites get none, so
-- their tests run without looking.
local function collect_fixtures(library)
  for _, suite in pairs(library.suites) do
    local chain_of_suites = {}
    local s = suite
    while s do
      insert(chain_of_suites, 1, s)
      s = s.parent
    end
    local setups, teardowns = {}, {}
    for _, c in ipairs(chain_of_suites) do
      for _, fn in ipairs(c.setups or {}) do setups[#setups + 1] = fn end
    end
    for i = #chain_of_suites, 1, -1 do
      for _, fn in ipairs(chain_of_suites[i].teardowns or {}) do teardowns[#teardowns + 1] = fn end
    end
    if #setups > 0 or #teardowns > 0 then
      suite.fixtures = { setups = setups, teardowns = teardowns }
    end
  end
end

-- Whether path is a file that can be read. A library's whole text is not read for this:
-- after the window's reload every library is asked this once more.
local function readable(path)
  local file = io_open(path, "rb")
  if not file then
    return false
  end
  -- An empty file reads as nothing without an error, a folder with one.
  local byte, err = file:read(1)
  file:close()
  return byte ~= nil or err == nil
end

local function new_library(name)
  local library = { name = name, suites = {}, runs = {}, folded = {}, known_names = {}, folded_names = {} }
  local root = new_suite(library, name, nil)
  library.suites[name] = root
  library.current = root
  return library
end

-- Loads a test library and indexes its tests. A library that does not load still shows
-- up, as one test "(load)" that reports why, rather than vanishing from the run.
local function load_library(path)
  local loaded = libraries[path]
  if loaded then
    index_by_name(loaded, path)
    return loaded
  end
  local name = library_name(path)
  local library = new_library(name)
  library.file = path

  local ok, err
  -- The library's own globals, also as _G: a test that replaces _G.pcall or _G.error
  -- changes them for its own library only.
  local env = setmetatable({}, { __index = api, __metatable = false })
  env._G = env
  -- The host reads and compiles the file (an unchanged one only once per process, also
  -- across the window's reloads) and bounds the loading (a damaged compiled chunk may
  -- make the loader itself hang) and the main chunk by the time limit of tests.
  local loaded, chunk, load_error = run_library(file_name(path), host_loadfile, path, "@" .. file_name(path), env)
  if not loaded then
    chunk, load_error = nil, chunk
  end
  if not chunk then
    ok, err = false, load_error
  else
    library.source = getinfo(chunk, "S").source
    test_sources[library.source] = true
    declaring = library
    decl_known = library.known_names
    fast[5] = decl_known
    declare_into(library.suites[name])
    ok, err = run_library(file_name(path), chunk)
    declaring, decl_known, decl_suite, decl_group, decl_all = nil, nil, nil, nil, nil
    decl_run, decl_fns = nil, nil
    fast[1], fast[2], fast[5] = false, false, false
  end
  if not ok then
    local message = error_text(err)
    library = new_library(name)
    local load_path = name .. "/(load)"
    library.runs = { { suite = library.suites[name], fns = { function() error(message, 0) end }, load_path } }
  elseif library.has_fixtures then
    collect_fixtures(library)
  end
  for _, suite in next, library.suites do suite.group, suite.runs, suite.all = nil, nil, nil end
  library.run, library.current, library.folded, library.known_names = nil, nil, nil, nil
  library.folded_names, library.case_checked = nil, nil

  libraries[path] = library
  index_by_name(library, path)
  return library
end

-- The test libraries a mask stands for, loaded, in the order of their files.
local function libraries_of(mask)
  if mask == nil or mask == "" then
    mask = "*.qlx"
  end
  local found = {}
  for _, path in ipairs(host_libraries(mask)) do
    local name = library_name(path)
    -- A name that would open a level or a line cannot stand for a library.
    if not is_self(path) and not find(name, "[/%c]") then
      found[#found + 1] = load_library(path)
    end
  end
  return found
end

---------------------------------------------------------------------------------------
-- Running

local function run_with_fixtures(fn, fixtures)
  local ok, err = true, nil
  for _, setup in ipairs(fixtures.setups) do
    ok, err = xpcall(setup, on_error)
    if not ok then break end
  end
  if ok then
    ok, err = xpcall(fn, on_error)
  end
  -- Tear-downs always run; the first error of the test wins.
  for _, teardown in ipairs(fixtures.teardowns) do
    local down_ok, down_err = xpcall(teardown, on_error)
    if ok and not down_ok then
      ok, err = false, down_err
    end
  end
  return ok, err
end

-- Translates what the test raised into the answer word.
local function answer(err)
  local message = failures[err]
  if message then
    return "##failure " .. message
  end
  return "##exception " .. (type(err) == "string" and err or error_text(err))
end

function GetProtocolVersion()
  return PROTOCOL_VERSION
end

-- The listing is the runs of paths as they are: the host joins them where it reads them,
-- so that no text as long as the listing is made here (and left as garbage). The runs go
-- back beside it too: the host then passes each path to RunTest as the string this state
-- already holds, without looking it up again.
-- The host is told about how long the listing is, so that it walks the paths only once:
-- the paths of a run share their suite's path, and their names most often differ little.
function FindTests(mask)
  local runs, count, bytes = {}, 0, 0
  for _, library in ipairs(libraries_of(mask)) do
    local own = library.runs
    move(own, 1, #own, count + 1, runs)
    count = count + #own
    for i = 1, #own do
      local run = own[i]
      local n = #run
      if n > 0 then
        local first, last = #run[1], #run[n]
        bytes = bytes + n * ((first > last and first or last) + 1)
      end
    end
  end
  return host_lines(runs, bytes), runs
end

-- Where each test's function is defined, from the chunk's line information (none in a
-- library compiled with luac -s). Found only when asked, so that discovery costs nothing
-- more.
function GetTestPositions(mask)
  -- Each test is placed in the file of the chunk its function comes from: the library's
  -- own file by the library's path, so that a report or an editor finds it, another
  -- chunk's (a compiled library's source, a helper) by the name Lua gives it. The tests of
  -- one chunk in a row become one set of rows, their paths and lines side by side, placed
  -- by one call: no text is made per test. The answer's size is guessed from each run's
  -- longer end, as FindTests does, with the file before it and room for the line.
  local lines, bytes = {}, 0
  for _, library in ipairs(libraries_of(mask)) do
    -- A library compiled without line information (luac -s) has no positions to give.
    local runs = sub(library.source or "", 1, 1) == "@" and library.runs or {}
    local own_file = library.file
    local own_source = own_file and "@" .. file_name(own_file)
    -- The chunk of the rows being gathered, and the text between a row's path and line.
    local source, middle = nil, nil
    local paths, places, count = {}, {}, 0
    local function end_rows()
      if count > 0 then
        lines[#lines + 1] = host_rows(paths, middle, places)
        paths, places, count = {}, {}, 0
      end
    end
    for _, run in ipairs(runs) do
      local fns, i, n = run.fns, 1, #run
      if n > 0 then
        local first, last = #run[1], #run[n]
        bytes = bytes + n * ((first > last and first or last) + 8 + #(middle or "\t\t"))
      end
      -- Whether source was just taken from test i, which must then be placed by it.
      local fresh = false
      while i <= n do
        local found, after = nil, i
        if source then found, after = host_declared(fns, source, i) end
        if after > i then
          if i == 1 and after > n then
            -- A whole run from one chunk, the usual case: its rows are the run itself.
            end_rows()
            lines[#lines + 1] = host_rows(run, middle, found)
          else
            move(run, i, after - 1, count + 1, paths)
            move(found, 1, after - i, count + 1, places)
            count = count + after - i
          end
          i, fresh = after, false
        elseif fresh then
          -- Never again for the same test, whatever the host answers.
          i, fresh = i + 1, false
        else
          -- A test of another chunk than the one before, or one without a place.
          local info = getinfo(fns[i], "S")
          if info.source ~= SELF and sub(info.source, 1, 1) == "@" and info.linedefined > 0
              and not find(info.short_src, "%c") then
            end_rows()
            source = info.source
            middle = "\t" .. (source == own_source and own_file or info.short_src) .. "\t"
            fresh = true
          else
            i = i + 1
          end
        end
      end
    end
    end_rows()
  end
  return host_lines(lines, bytes)
end

-- The library that holds the test at path, loaded if this state has not loaded it yet.
local function library_of(path)
  if type(path) ~= "string" then return nil end
  local slash = find(path, "/", 1, true)
  if not slash then return nil end
  local name = sub(path, 1, slash - 1)
  local library = by_name[name]
  if not library and name ~= "" and not find(name, "%c") then
    -- No discovery in this state (the container was reset): the library is where the
    -- last discovery found it, or for a name never found, in USER.
    local file = remembered_file(name) or user_dir .. "/" .. name .. ".qlx"
    if not is_self(file) and readable(file) then
      library = load_library(file)
    end
  end
  return library
end

-- The run and place of the test at path in library, through the library's index of its
-- tests by path, made when a test is first asked for out of the listing's order.
local function indexed(library, path)
  local index = library.index
  if not index then
    index = {}
    for r, run in ipairs(library.runs) do
      for i = 1, #run do
        -- A path declared twice is an error, so each path has one place.
        index[run[i]] = r << 32 | i
      end
    end
    library.index = index
  end
  local at = index[path]
  if at then return library.runs[at >> 32], at & 0xffffffff end
end

function RunTest(path)
  local run, place = last_run, last_place + 1
  if not (run and run[place] == path) then
    -- The first test of the next run, the first of a library, or any other.
    run = run and run.next
    place = 1
    if not (run and run[1] == path) then
      local library = library_of(path)
      run = library and library.runs[1]
      if not (run and run[1] == path) then
        run = nil
        if library then run, place = indexed(library, path) end
        if not run then
          return "##notfound"
        end
      end
    end
  end
  last_run, last_place = run, place
  local fn = run.fns[place]
  checks = 0
  current_fn, current_path, current_fixtures = fn, path, run.suite.fixtures
  local ok, err
  if current_fixtures then
    ok, err = run_with_fixtures(fn, current_fixtures)
  else
    ok, err = xpcall(fn, on_error)
  end
  if ok then
    return checks > 0 and "##pass" or "##pass nochecks"
  end
  return answer(err)
end
