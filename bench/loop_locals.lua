-- Twin of loop_locals.kova: the same statements over locals.
local s = 0
local i = 0
while i < 10000000 do
  s = (s + i * i) % 1000003
  i = i + 1
end
print(s)
