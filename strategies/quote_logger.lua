-- Quote logger: writes the best bid and the best ask of the expert's instrument into its
-- journal each time the instrument's book changes (a change deeper in the book that leaves the
-- best prices and volumes as they were writes nothing). It places no orders.

local last

local function level(side)
  local best = side[1]
  if not best then
    return '—'
  end
  return string.format('%s x %d', best[1], best[2])
end

function on_book(ctx)
  local book = ctx:book(1)
  if not book then
    return
  end
  local line = string.format('%s: покупка %s, продажа %s', ctx.isin, level(book.bids),
                             level(book.asks))
  if line ~= last then
    ctx:log(line)
    last = line
  end
end
