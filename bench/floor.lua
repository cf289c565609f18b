-- The least a runner must do, in plain Lua, as the yardstick for bench/run-bench: load
-- the same test libraries, keep every test under its path, call each in pcall and write
-- one unbuffered progress character per test. Nothing is reported but the count.
-- With --load-only it stops after loading, the yardstick for discovery (--load-closed
-- also closes its state on the way out, as lua5.4 does at a script's end, so that the
-- scripts' finalizers run, which a runner owes them); with --bodies it
-- calls each test in pcall without writing and prints the seconds that took, the
-- yardstick for one test's round trip through the runner's bridge.
--   lua5.4 bench/floor.lua [--load-only | --load-closed | --bodies] Bench00.qlx Bench01.qlx ...

local names, bodies = {}, {}
local prefix = nil

function suite(name, body)
  local outer = prefix
  prefix = outer and (outer .. "/" .. name) or name
  body()
  prefix = outer
end

function test(name, fn)
  local n = #bodies + 1
  names[n] = prefix .. "/" .. name
  bodies[n] = fn
end

function check_equals(expected, actual)
  if expected ~= actual then
    error("expected " .. tostring(expected) .. " but was " .. tostring(actual), 2)
  end
end

local load_closed = arg[1] == "--load-closed"
local load_only, bodies_only = load_closed or arg[1] == "--load-only", arg[1] == "--bodies"
local first = (load_only or bodies_only) and 2 or 1
for i = first, #arg do
  local chunk = assert(loadfile(arg[i]))
  chunk()
end
if load_only then
  io.stdout:write(#bodies, " tests loaded\n")
  os.exit(0, load_closed)
end
if bodies_only then
  local start = os.clock()
  for i = 1, #bodies do pcall(bodies[i]) end
  io.stdout:write(string.format("bodies %.6f %d\n", os.clock() - start, #bodies))
  os.exit(0)
end

io.stdout:setvbuf("no")
local failed = 0
for i = 1, #bodies do
  io.stdout:write(".")
  if not pcall(bodies[i]) then
    failed = failed + 1
  end
end
io.stdout:write("\n", #bodies, " tests, ", failed, " failed\n")
os.exit(failed == 0 and 0 or 1)
