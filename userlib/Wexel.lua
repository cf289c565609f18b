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
  if value ~= value then
    return "nan" -- the C library's text for it varies ("-nan", "nan")
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
--
-- Declaring is the hot path of discovery, so no per-test path string is built: a suite
-- keeps its tests by name, and the listing is made of runs of tests declared one after
-- another in the same suite, each joined in one table.concat.

local find, match, concat = string.find, string.match, table.concat

local declaring = nil

local function bad_name(name)
  -- A slash would open another level, a control character (a line break) another test.
  return type(name) ~= "string" or name == "" or find(name, "[/%c]") ~= nil
end

local function name_error(kind, name)
  if type(name) ~= "string" or name == "" then
    error(kind .. " name must be a non-empty string", 3)
  end
  error(kind .. " name must not contain '/' or control characters: " .. name, 3)
end

local function not_loading(kind)
  error(kind .. "() can only be called while a test library loads", 3)
end

local function new_suite(path, parent)
  return { path = path, parent = parent, tests = {} }
end

function api.suite(name, body)
  local library = declaring
  if not library then not_loading("suite") end
  if bad_name(name) then name_error("suite", name) end
  if type(body) ~= "function" then
    error("suite " .. name .. " needs a function as its body", 2)
  end
  local parent = library.current
  local path = parent.path .. "/" .. name
  local suite = library.suites[path]
  if not suite then
    suite = new_suite(path, parent)
    library.suites[path] = suite
  end
  library.current = suite
  body()
  library.current = parent
end

function api.test(name, fn)
  local library = declaring
  if not library then not_loading("test") end
  if bad_name(name) then name_error("test", name) end
  if type(fn) ~= "function" then
    error("test " .. name .. " needs a function", 2)
  end
  local suite = library.current
  local tests = suite.tests
  if tests[name] then
    error("test " .. suite.path .. "/" .. name .. " is declared twice", 2)
  end
  tests[name] = fn
  local run = library.run
  if run == nil or run.suite ~= suite then
    run = { suite = suite }
    library.runs[#library.runs + 1] = run
    library.run = run
  end
  run[#run + 1] = name
end

local function add_fixture(kind, field, fn)
  local library = declaring
  if not library then not_loading(kind) end
  if type(fn) ~= "function" then
    error(kind .. " needs a function", 3)
  end
  local suite = library.current
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

-- Loaded libraries by file, and by name (the first level of a test path). Both go with
-- the state when the host resets its container; the file of each name is also given to
-- the host to remember, so that a test found through any mask can still be run then.
local libraries = {}
local by_name = {}

local function remembered_file(name)
  return host.recall("Wexel.qlx library " .. name)
end

local function index_by_name(library, path)
  if by_name[library.name] ~= library then
    by_name[library.name] = library
    host.remember("Wexel.qlx library " .. library.name, path)
  end
end

local function file_name(path)
  return match(path, "[^/]*$")
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

-- Gives each suite that has set-ups or tear-downs around it the full lists: set-ups from
-- the outermost suite in, tear-downs from the innermost out. Other suites get none, so
-- their tests run without looking.
local function collect_fixtures(library)
  for _, suite in pairs(library.suites) do
    local chain = {}
    local s = suite
    while s do
      table.insert(chain, 1, s)
      s = s.parent
    end
    local setups, teardowns = {}, {}
    for _, c in ipairs(chain) do
      for _, fn in ipairs(c.setups or {}) do setups[#setups + 1] = fn end
    end
    for i = #chain, 1, -1 do
      for _, fn in ipairs(chain[i].teardowns or {}) do teardowns[#teardowns + 1] = fn end
    end
    if #setups > 0 or #teardowns > 0 then
      suite.fixtures = { setups = setups, teardowns = teardowns }
    end
  end
end

local function make_listing(runs)
  local parts = {}
  for i, run in ipairs(runs) do
    local prefix = run.suite.path .. "/"
    parts[i] = prefix .. concat(run, "\n" .. prefix)
  end
  return concat(parts, "\n")
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

-- The text of a raised value. A table without __tostring would print its address, which
-- differs from run to run; reports must not.
local function error_text(err)
  local kind = type(err)
  if kind == "string" or kind == "number" then
    return tostring(err)
  end
  local meta = getmetatable(err)
  if type(meta) == "table" and meta.__tostring then
    local ok, text = pcall(tostring, err)
    if ok and type(text) == "string" then
      return text
    end
  end
  return "(error object is a " .. kind .. " value)"
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
  local root = new_suite(name, nil)
  local library = { name = name, suites = { [name] = root }, runs = {}, current = root }

  local ok, err
  local bytes, read_error = read_file(path)
  if not bytes then
    ok, err = false, read_error
  else
    local env = setmetatable({}, { __index = api })
    -- The host bounds a library's loading (a damaged compiled chunk may make load itself
    -- hang) and its main chunk by the time limit of tests.
    local run_library = host.run_library or function(_, fn, ...) return pcall(fn, ...) end
    local loaded, chunk, load_error = run_library(file_name(path), load, bytes, "@" .. file_name(path), "bt", env)
    if not loaded then
      chunk, load_error = nil, chunk
    end
    if not chunk then
      ok, err = false, load_error
    else
      declaring = library
      ok, err = run_library(file_name(path), chunk)
      declaring = nil
    end
  end
  if not ok then
    local message = error_text(err)
    root = new_suite(name, nil)
    root.tests["(load)"] = function() error(message, 0) end
    library.suites = { [name] = root }
    library.runs = { { suite = root, "(load)" } }
  elseif library.has_fixtures then
    collect_fixtures(library)
  end
  library.listing = make_listing(library.runs)
  library.runs, library.run, library.current = nil, nil, nil

  libraries[path] = library
  index_by_name(library, path)
  return library
end

local function answer(err)
  if getmetatable(err) == Failure then
    return "##failure " .. err.message
  end
  return "##exception " .. error_text(err)
end

local function run_with_fixtures(fn, fixtures)
  local ok, err = true, nil
  for _, setup in ipairs(fixtures.setups) do
    ok, err = pcall(setup)
    if not ok then break end
  end
  if ok then
    ok, err = pcall(fn)
  end
  -- Tear-downs always run; the first error of the test wins.
  for _, teardown in ipairs(fixtures.teardowns) do
    local down_ok, down_err = pcall(teardown)
    if ok and not down_ok then
      ok, err = false, down_err
    end
  end
  return ok, err
end

function GetProtocolVersion()
  return PROTOCOL_VERSION
end

function FindTests(mask)
  if mask == nil or mask == "" then
    mask = "*.qlx"
  end
  local listings = {}
  for _, path in ipairs(host.libraries(mask)) do
    local name = library_name(path)
    -- A name that would open a level or a line cannot stand for a library.
    if not is_self(path) and not find(name, "[/%c]") then
      local listing = load_library(path).listing
      if listing ~= "" then
        listings[#listings + 1] = listing
      end
    end
  end
  return concat(listings, "\n")
end

function RunTest(path)
  local suite_path, name, test_name = match(path, "^(([^/]*).*)/(.*)$")
  if not suite_path then
    return "##notfound"
  end
  local library = by_name[name]
  if not library and name ~= "" and not find(name, "%c") then
    -- No discovery in this state (the container was reset): the library is where the
    -- last discovery found it, or for a name never found, in USER.
    local file = remembered_file(name) or host.user_dir .. "/" .. name .. ".qlx"
    if not is_self(file) and read_file(file) then
      library = load_library(file)
    end
  end
  local suite = library and library.suites[suite_path]
  local fn = suite and suite.tests[test_name]
  if not fn then
    return "##notfound"
  end
  local ok, err
  if suite.fixtures then
    ok, err = run_with_fixtures(fn, suite.fixtures)
  else
    ok, err = pcall(fn)
  end
  if ok then
    return "##pass"
  end
  return answer(err)
end
