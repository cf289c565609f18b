-- Sample test library: every test passes. Suites nest by calling suite() inside a suite.

local function add(a, b)
  return a + b
end

suite("Addition", function()
  test("SmallNumbers", function()
    check_equals(4, add(2, 2))
  end)

  test("NegativeNumbers", function()
    check_equals(-1, add(2, -3))
  end)
end)

suite("Division", function()
  suite("Integer", function()
    test("Floors", function()
      check_equals(2, 7 // 3)
      check_equals(-3, -7 // 3)
    end)
  end)

  test("ByZeroIsInfinite", function()
    check(1 / 0 == math.huge, "1 / 0 should be infinite")
  end)

  test("Fractions", function()
    check_near(0.3, 0.1 + 0.2, 1e-12)
  end)
end)

-- A test outside any suite belongs to the library's own suite.
test("Smoke", function()
  check_error(function() error("expected") end, "expected")
end)
