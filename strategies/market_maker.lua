-- Market maker: keeps one bid and one ask around the middle of the best prices, replaces them
-- when the middle moves, and takes them off when it is stopped.
--
-- The terminal rounds every price to the instrument's step: a bid down and an ask up, so the
-- quotes never come closer to the middle than asked.

params = {
  qty = 1,            -- lots in each quote
  half_spread = 0.5,  -- distance of each quote from the middle, in price units
  requote = 0.5,      -- how far the middle must move before the quotes are replaced
  max_position = 5,   -- no quote that could take the net position beyond this, either way
  client = '',        -- the client code of the orders; empty: the account's own
}

local quotes = {}     -- order id -> true, for the quotes we placed and have not seen end
local quoted_mid

local function client(ctx)
  if ctx.params.client ~= '' then
    return ctx.params.client
  end
  return nil
end

-- Every quote of ours, whether the order book of the terminal has seen it yet or not.
local function cancel_all(ctx)
  for _, o in ipairs(ctx:orders()) do
    quotes[o.id] = true
  end
  for id in pairs(quotes) do
    local ok, why = ctx:cancel(id)
    if not ok then
      ctx:log('снятие ' .. id .. ' не удалось: ' .. tostring(why))
    end
  end
  quotes = {}
end

local function place(ctx, side, price)
  local id, why = ctx[side](ctx, ctx.params.qty, price, client(ctx))
  if id then
    quotes[id] = true
  else
    ctx:log(side .. ' ' .. price .. ' отклонена: ' .. why)
  end
end

-- Lots of our own orders at each price of one side, as the terminal knows them from the
-- exchange's answers (the book's own column follows the orders log, which may come later).
local function own_lots(ctx, side)
  local lots = {}
  for _, o in ipairs(ctx:orders()) do
    if o.side == side then
      local price = tonumber(o.price)
      lots[price] = (lots[price] or 0) + o.rest
    end
  end
  return lots
end

-- The best price of the others: a level that holds only our own quotes is not the market, or
-- each quote would move the middle and be chased by the next.
local function best(levels, lots)
  for _, level in ipairs(levels) do
    if level[2] > math.max(level[3], lots[level[1]] or 0) then
      return level[1]
    end
  end
  return nil
end

local function quote(ctx)
  local book = ctx:book()
  if not book then
    return
  end
  local bid, ask = best(book.bids, own_lots(ctx, 'buy')), best(book.asks, own_lots(ctx, 'sell'))
  if not bid or not ask then
    return
  end
  local mid = (bid + ask) / 2
  if quoted_mid and math.abs(mid - quoted_mid) < ctx.params.requote then
    return
  end
  cancel_all(ctx)
  local pos = ctx:position(client(ctx))
  local p = ctx.params
  if pos + p.qty <= p.max_position then
    place(ctx, 'buy', mid - p.half_spread)
  end
  if -pos + p.qty <= p.max_position then
    place(ctx, 'sell', mid + p.half_spread)
  end
  quoted_mid = mid
end

function on_start(ctx)
  quote(ctx)
end

function on_book(ctx)
  quote(ctx)
end

function on_order(ctx, ev)
  if ev.state == 'filled' or ev.state == 'cancelled' or ev.state == 'rejected' then
    quotes[ev.id] = nil
    -- A fill changes the position: quote afresh at the next change of the book.
    if ev.state == 'filled' then
      quoted_mid = nil
    end
  end
  if ev.state == 'rejected' then
    ctx:log('заявка ' .. ev.id .. ' отклонена биржей: ' .. ev.text)
  end
end

function on_stop(ctx)
  cancel_all(ctx)
end
