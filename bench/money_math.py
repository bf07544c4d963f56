# A million rounds of exact decimal add, multiply and divide (quotients cut
# to 5 fraction digits, as money does).
from decimal import Decimal, ROUND_DOWN
step = Decimal("0.00001")
total = Decimal(0)
for _ in range(1000000):
    total = total + (Decimal("1.25") * 3 / 7).quantize(step, rounding=ROUND_DOWN)
print(total)
