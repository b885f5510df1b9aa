-- 10M iterations of an arithmetic loop on globals.
s, i = 0, 0
while i < 10000000 do
  s = (s + i * i) % 1000003
  i = i + 1
end
print(s)
