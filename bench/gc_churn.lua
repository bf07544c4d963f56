for _ = 1, 10 do
  local b = {}
  for i = 1, 1000000 do b[i] = string.sub("xx", 1, 1) end
  b = nil
end
print("done")
