-- Sample test library: passing, failing and erroring tests in nested suites, using the
-- helper library Money from SYSTEM.

local money = host.load("Money")

suite("Pricing", function()
  test("RoundsToCents", function()
    check_equals("2.50", money.Format(2.499))
  end)

  suite("Discounts", function()
    test("TenPercent", function()
      check_equals(90, money.Discount(100, 10))
    end)

    test("NeverNegative", function()
      check_equals(0, money.Discount(100, 150), "discount above 100%")
    end)
  end)
end)

suite("Shipping", function()
  local rates

  setup(function()
    rates = { DE = 5, FR = 7 }
  end)

  teardown(function()
    rates = nil
  end)

  test("KnownCountry", function()
    check_equals(5, rates.DE)
  end)

  test("FreeAboveLimit", function()
    check_equals(0, rates.free.above)
  end)

  test("UnknownCountry", function()
    error("no rate for country XX")
  end)
end)
