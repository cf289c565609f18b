-- Helper library shared by test libraries: host.load("Money") gives its procedures.

function Format(amount)
  return string.format("%.2f", amount)
end

function Discount(price, percent)
  return price - price * percent // 100
end
