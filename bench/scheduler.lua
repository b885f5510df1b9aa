-- A plain FIFO over periodic tasks, the twin of the generated Kova
-- scheduler workloads: scan for the earliest next time (ties: lower index),
-- run the task (c = c + 1), re-arm it one period later.
--   lua5.4 scheduler.lua <instances> <limit in ms>
local n, limitMs = tonumber(arg[1]), tonumber(arg[2])
local period = 1000000000 -- 1 ms in ps
local limit = limitMs * period
local nextTime = {}
for i = 1, n do nextTime[i] = 0 end
local c = 0
while true do
  local best, chosen = math.maxinteger, 0
  for i = 1, n do
    if nextTime[i] < best then best, chosen = nextTime[i], i end
  end
  if best > limit then break end
  c = c + 1
  nextTime[chosen] = best + period
end
print(c)
