-- Market maker: keeps one bid and one ask around the middle of the best prices, replaces them
-- when the middle moves, and takes them off when it is stopped.
--
-- The terminal rounds every price to the instrument's step: a bid down and an ask up, so the
-- quotes never come closer to the middle than asked.
--
-- It paces itself to stay inside the terminal's default limits (60 orders a minute, no equal
-- order twice within a second): quotes are replaced at most once every min_interval seconds,
-- and a quote already resting at the price wanted is kept rather than cancelled and placed
-- again. A busy market moves the middle many times a second; chasing each move would spend the
-- minute's orders in seconds and have the gate refuse the rest.

params = {
  qty = {1, 'Лотов в котировке'},
  half_spread = {0.5, 'Полуспред', 'Расстояние каждой котировки от середины, в пунктах цены'},
  requote = {0.5, 'Сдвиг для перестановки',
             'На сколько должна сдвинуться середина, чтобы котировки были переставлены'},
  min_interval = {3, 'Пауза между перестановками, с',
                  'Не меньше стольких секунд между двумя перестановками котировок'},
  max_position = {5, 'Предел позиции',
                  'Ни одной котировки, которая могла бы вывести чистую позицию за этот предел'},
  client = {'', 'Код клиента', 'Пусто: собственный код клиента счёта'},
}

local quotes = {}     -- order id -> {side = 'buy'|'sell', price = as asked}, not yet seen end
local quoted_mid
local quoted_at

local function client(ctx)
  if ctx.params.client ~= '' then
    return ctx.params.client
  end
  return nil
end

-- Our orders the terminal knows of that we have not heard of yet (placed without an answer in
-- time) join the list, so that none is left behind.
-- Those we know get the price they rest at (the asked one rounded to the step).
local function adopt(ctx)
  for _, o in ipairs(ctx:orders()) do
    local q = quotes[o.id] or {side = o.side, price = tonumber(o.price)}
    q.rests = tonumber(o.price)
    quotes[o.id] = q
  end
end

local function cancel(ctx, id)
  local ok, why = ctx:cancel(id)
  if not ok then
    ctx:log('снятие ' .. id .. ' не удалось: ' .. tostring(why))
  end
  quotes[id] = nil
end

local function cancel_all(ctx)
  adopt(ctx)
  local ids = {}
  for id in pairs(quotes) do
    ids[#ids + 1] = id
  end
  for _, id in ipairs(ids) do
    cancel(ctx, id)
  end
  quotes = {}
end

local function place(ctx, side, price)
  local id, why = ctx[side](ctx, ctx.params.qty, price, client(ctx))
  if id then
    quotes[id] = {side = side, price = price}
  else
    ctx:log(side .. ' ' .. price .. ' отклонена: ' .. why)
  end
end

-- Whether a quote resting at `rests` may stand for one wanted at `price`: on the side of it
-- away from the middle, and less than `requote` from it, as the rounding to the step leaves it.
-- Placing it again would only send the same order once more.
local function close_enough(ctx, side, rests, price)
  local away = side == 'buy' and price - rests or rests - price
  return away >= 0 and away < ctx.params.requote
end

-- One side: a quote resting where one is wanted stays, every other one on the side goes, and a
-- new one is placed only when none stays (and the side is wanted at all).
local function quote_side(ctx, side, price, wanted)
  local kept = false
  local ids = {}
  for id, q in pairs(quotes) do
    if q.side == side then
      ids[#ids + 1] = id
    end
  end
  for _, id in ipairs(ids) do
    local q = quotes[id]
    if wanted and not kept and close_enough(ctx, side, q.rests or q.price, price) then
      kept = true
    else
      cancel(ctx, id)
    end
  end
  if wanted and not kept then
    place(ctx, side, price)
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
  local now = ctx:now()
  if quoted_at and now - quoted_at < ctx.params.min_interval then
    return
  end
  adopt(ctx)
  local pos = ctx:position(client(ctx))
  local p = ctx.params
  quote_side(ctx, 'buy', mid - p.half_spread, pos + p.qty <= p.max_position)
  quote_side(ctx, 'sell', mid + p.half_spread, -pos + p.qty <= p.max_position)
  quoted_mid = mid
  quoted_at = now
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
