-- Twin of loop_globals.kova: the same statements over globals.
s = 0
i = 0
while i < 10000000 do
  s = (s + i * i) % 1000003
  i = i + 1
end
print(s)
