local s, i = 0, 0
for _ = 1, 10000000 do
  i = i + 1
  s = ((s + i) * 3) & 255
end
print(s)
