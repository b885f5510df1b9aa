-- The twin of the traced Kova workload: the same trace text, byte for byte,
-- written with string.format (a FIFO over periodic tasks, each activation
-- traced as task start, assignment and task end).
--   lua5.4 trace.lua <instances> <limit in ms, whole seconds> <model name>
local n, limitMs, model = tonumber(arg[1]), tonumber(arg[2]), arg[3]
local period = 1000000000 -- 1 ms in ps
local limit = limitMs * period
local format, write = string.format, io.write
io.stdout:setvbuf("full")

local function stamp(t)
  return format("%d.%012d", t // 1000000000000, t % 1000000000000)
end

write("setup \nQuiet mode disabled\n")
local c = 0
write(format("[%s:ASSIGN] Assign c new value: %d\n", stamp(0), c))
local nextTime, started = {}, {}
for i = 1, n do nextTime[i] = 0 end
while true do
  local best, chosen = math.maxinteger, 0
  for i = 1, n do
    if nextTime[i] < best then best, chosen = nextTime[i], i end
  end
  if best > limit then break end
  local s, name = stamp(best), "p" .. (chosen - 1)
  write(format("[%s:%s:STARTING_TASK] '%s'\n", s, model, name))
  if not started[chosen] then
    started[chosen] = true
    write(format('[%s:STATE] process "Counter", instance "%s", state "run"\n', s, name))
  end
  c = c + 1
  write(format("[%s:ASSIGN] Assign c new value: %d\n", s, c))
  write(format("[%s:%s:TASK_FINISHED] '%s'\n", s, model, name))
  nextTime[chosen] = best + period
end
write(format("EXIT (SUCCESS) AT %ds (%d)\n", limitMs // 1000, limit))
