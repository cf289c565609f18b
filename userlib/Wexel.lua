-- Wexel.qlx: the script side of the test protocol. The runner calls three procedures:
--   GetProtocolVersion()  the protocol this library speaks
--   FindTests(mask)       the paths of the tests in the libraries matching mask, one per line
--   RunTest(path)         "##pass", "##failure <message>", "##exception <message>" or
--                         "##notfound"
-- A test library is loaded once and indexed by test path, so that a run of many tests
-- costs one table lookup and one protected call per test.

local PROTOCOL_VERSION = "0.87"

-- A failed check raises a value with this metatable; anything else a test raises is an
-- exception.
local Failure = {}
Failure.__tostring = function(failure) return failure.message end

local function fail_with(message)
  error(setmetatable({ message = message }, Failure), 0)
end

local function prefix(message)
  if message == nil or message == "" then
    return ""
  end
  return tostring(message) .. ", "
end

local function render(value)
  if type(value) == "string" then
    return value
  end
  return tostring(value)
end

-- Two different values must never read the same in a message: add the types when they
-- differ, or all the digits when two numbers only differ far behind the point.
local function render_pair(expected, actual)
  local e, a = render(expected), render(actual)
  if e == a then
    local te = math.type(expected) or type(expected)
    local ta = math.type(actual) or type(actual)
    if te ~= ta then
      e, a = e .. " (" .. te .. ")", a .. " (" .. ta .. ")"
    elseif te == "float" then
      e, a = string.format("%.17g", expected), string.format("%.17g", actual)
    end
  end
  return e, a
end

local function not_equals_message(expected, actual, message)
  local e, a = render_pair(expected, actual)
  return prefix(message) .. "expected: <" .. e .. "> but was: <" .. a .. ">"
end

-- What test code sees besides the standard globals.
local api = setmetatable({}, { __index = _G })

function api.fail(message)
  fail_with(message == nil and "" or tostring(message))
end

function api.check(condition, message)
  if not condition then
    fail_with((message == nil or message == "") and "check failed" or tostring(message))
  end
end

function api.check_equals(expected, actual, message)
  if expected ~= actual then
    fail_with(not_equals_message(expected, actual, message))
  end
end

function api.check_not_equals(expected, actual, message)
  if expected == actual then
    fail_with(prefix(message) .. "expected and actual were: <" .. render(actual) .. ">")
  end
end

function api.check_near(expected, actual, delta, message)
  if type(expected) ~= "number" or type(actual) ~= "number" or type(delta) ~= "number" then
    error("check_near compares numbers", 2)
  end
  -- Written so that a NaN on either side fails.
  if not (math.abs(expected - actual) <= math.abs(delta)) then
    fail_with(not_equals_message(expected, actual, message) .. " (delta " .. render(delta) .. ")")
  end
end

function api.check_error(fn, expected_text, message)
  local ok, err = pcall(fn)
  if ok then
    fail_with(prefix(message) .. "expected an error")
  end
  if expected_text ~= nil then
    local text = tostring(err)
    if not text:find(expected_text, 1, true) then
      fail_with(prefix(message) .. "expected an error containing: <" .. expected_text ..
        "> but was: <" .. text .. ">")
    end
  end
end

-- Declaring tests. Only while a library's main chunk runs is there a library to declare
-- into; a suite body runs at once, so nesting follows the calls.

local declaring = nil

local function check_name(kind, name)
  if type(name) ~= "string" or name == "" then
    error(kind .. " name must be a non-empty string", 3)
  end
  -- A slash would open another level, a line break another test in the list.
  if name:find("[/%c]") then
    error(kind .. " name must not contain '/' or control characters: " .. name, 3)
  end
end

local function current_suite(kind)
  if not declaring then
    error(kind .. "() can only be called while a test library loads", 3)
  end
  return declaring.current
end

function api.suite(name, body)
  local parent = current_suite("suite")
  check_name("suite", name)
  if type(body) ~= "function" then
    error("suite " .. name .. " needs a function as its body", 2)
  end
  local suite = { path = parent.path .. "/" .. name, parent = parent, setups = {}, teardowns = {} }
  declaring.current = suite
  body()
  declaring.current = parent
end

function api.test(name, fn)
  local suite = current_suite("test")
  check_name("test", name)
  if type(fn) ~= "function" then
    error("test " .. name .. " needs a function", 2)
  end
  local path = suite.path .. "/" .. name
  if declaring.paths[path] then
    error("test " .. path .. " is declared twice", 2)
  end
  declaring.paths[path] = true
  declaring.tests[#declaring.tests + 1] = { path = path, fn = fn, suite = suite }
end

function api.setup(fn)
  local suite = current_suite("setup")
  if type(fn) ~= "function" then
    error("setup needs a function", 2)
  end
  suite.setups[#suite.setups + 1] = fn
end

function api.teardown(fn)
  local suite = current_suite("teardown")
  if type(fn) ~= "function" then
    error("teardown needs a function", 2)
  end
  suite.teardowns[#suite.teardowns + 1] = fn
end

-- Loaded libraries by file, and every known test by path.
local libraries = {}
local index = {}

local function file_name(path)
  return path:match("[^/]*$")
end

local function is_self(path)
  return file_name(path):lower() == "wexel.qlx"
end

local function library_name(path)
  local name = file_name(path):gsub("%.[^.]*$", "")
  if name == "" then
    name = file_name(path)
  end
  return name
end

-- Set-ups outer suite first, tear-downs inner suite first; nil when there are none, so
-- that a plain test runs without looking at them.
local function attach_fixtures(test)
  local setups, teardowns = {}, {}
  local chain = {}
  local suite = test.suite
  while suite do
    table.insert(chain, 1, suite)
    suite = suite.parent
  end
  for _, s in ipairs(chain) do
    for _, fn in ipairs(s.setups) do setups[#setups + 1] = fn end
  end
  for i = #chain, 1, -1 do
    for _, fn in ipairs(chain[i].teardowns) do teardowns[#teardowns + 1] = fn end
  end
  if #setups > 0 then test.setups = setups end
  if #teardowns > 0 then test.teardowns = teardowns end
  test.suite = nil
end

local function read_file(path)
  local file, err = io.open(path, "rb")
  if not file then
    return nil, err
  end
  local bytes = file:read("a")
  file:close()
  return bytes
end

local function error_text(err)
  local ok, text = pcall(tostring, err)
  return ok and text or "(error object cannot be shown)"
end

-- Loads a test library and indexes its tests. A library that does not load still shows
-- up, as one test "(load)" that reports why, rather than vanishing from the run.
local function load_library(path)
  local loaded = libraries[path]
  if loaded then
    return loaded
  end
  local name = library_name(path)
  local root = { path = name, setups = {}, teardowns = {} }
  local library = { name = name, tests = {}, paths = {}, current = root }

  local ok, err
  local bytes, read_error = read_file(path)
  if not bytes then
    ok, err = false, read_error
  else
    local env = setmetatable({}, { __index = api })
    local chunk, load_error = load(bytes, "@" .. file_name(path), "bt", env)
    if not chunk then
      ok, err = false, load_error
    else
      declaring = library
      ok, err = pcall(chunk)
      declaring = nil
    end
  end
  if not ok then
    local message = error_text(err)
    library.tests = { { path = name .. "/(load)", fn = function() error(message, 0) end } }
  else
    for _, test in ipairs(library.tests) do attach_fixtures(test) end
  end
  library.paths, library.current = nil, nil

  libraries[path] = library
  for _, test in ipairs(library.tests) do
    index[test.path] = test
  end
  return library
end

local function answer(err)
  if getmetatable(err) == Failure then
    return "##failure " .. err.message
  end
  return "##exception " .. error_text(err)
end

local function run(test)
  if not test.setups and not test.teardowns then
    local ok, err = pcall(test.fn)
    if ok then
      return "##pass"
    end
    return answer(err)
  end
  local ok, err = true, nil
  for _, fn in ipairs(test.setups or {}) do
    ok, err = pcall(fn)
    if not ok then break end
  end
  if ok then
    ok, err = pcall(test.fn)
  end
  -- Tear-downs always run; the first error of the test wins.
  for _, fn in ipairs(test.teardowns or {}) do
    local down_ok, down_err = pcall(fn)
    if ok and not down_ok then
      ok, err = false, down_err
    end
  end
  if ok then
    return "##pass"
  end
  return answer(err)
end

function GetProtocolVersion()
  return PROTOCOL_VERSION
end

function FindTests(mask)
  if mask == nil or mask == "" then
    mask = "*.qlx"
  end
  local lines = {}
  for _, path in ipairs(host.libraries(mask)) do
    local name = library_name(path)
    -- A name that would open a level or a line cannot stand for a library.
    if not is_self(path) and not name:find("[/%c]") then
      for _, test in ipairs(load_library(path).tests) do
        lines[#lines + 1] = test.path
      end
    end
  end
  return table.concat(lines, "\n")
end

function RunTest(path)
  local test = index[path]
  if not test then
    -- Not listed in this state (the container was reset, or no discovery ran): try the
    -- library the path names, in USER.
    local name = path:match("^([^/]+)/")
    if name then
      local file = host.user_dir .. "/" .. name .. ".qlx"
      if not libraries[file] and not is_self(file) and read_file(file) then
        load_library(file)
        test = index[path]
      end
    end
  end
  if not test then
    return "##notfound"
  end
  return run(test)
end
