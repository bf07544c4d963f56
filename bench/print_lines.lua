-- Prints 100,000 lines (output redirected).
for i = 1, 100000 do io.write("line ", i, " of ", 100000, "\n") end
