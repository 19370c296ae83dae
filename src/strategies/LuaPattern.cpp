// string.find, match, gmatch and gsub for strategies: Lua's pattern semantics, matched by our
// own code so that the work is counted. Lua's matcher backtracks in C, where no hook fires: a
// pattern such as string.rep('a?', 40) .. string.rep('a', 40) would run for ages inside one
// call. This one looks at the budget every so many steps and raises the overrun from there.
//
// Strings handed in by Lua end with a '\0' past their length; like Lua's own, the matcher reads
// that byte at the end of a pattern or a subject.

#include "strategies/StrategyLua.h"

#include <cctype>
#include <cstring>

namespace vorlen {

namespace {

constexpr char kEsc = '%';
constexpr char kSpecials[] = "^$*+?.([%-";
constexpr int kMaxCaptures = 32;
constexpr int kMaxDepth = 200;
constexpr std::ptrdiff_t kUnfinished = -1;
constexpr std::ptrdiff_t kPosition = -2;
// Steps (a call of the matcher, one character of a repetition, 32 bytes compared) between two
// looks at the clock: some tens of microseconds.
constexpr long kStepsPerCheck = 1 << 14;

// Only plain data: an error raised from anywhere in here skips every frame.
struct TMatch {
    const char* SrcInit;
    const char* SrcEnd;
    const char* PEnd;
    lua_State* L;
    int Depth;
    int Level;
    long Steps;
    struct {
        const char* Init;
        std::ptrdiff_t Len;
    } Capture[kMaxCaptures];
};

unsigned char U(char c) {
    return static_cast<unsigned char>(c);
}

void Charge(TMatch& ms, long steps) {
    ms.Steps -= steps;
    if (ms.Steps <= 0) {
        ms.Steps = kStepsPerCheck;
        CheckBudget(ms.L);
    }
}

const char* Match(TMatch& ms, const char* s, const char* p);

int CheckCapture(TMatch& ms, int l) {
    l -= '1';
    if (l < 0 || l >= ms.Level || ms.Capture[l].Len == kUnfinished)
        return luaL_error(ms.L, "invalid capture index %%%d", l + 1);
    return l;
}

int CaptureToClose(TMatch& ms) {
    for (int level = ms.Level - 1; level >= 0; --level) {
        if (ms.Capture[level].Len == kUnfinished)
            return level;
    }
    return luaL_error(ms.L, "invalid pattern capture");
}

const char* ClassEnd(TMatch& ms, const char* p) {
    switch (*p++) {
    case kEsc:
        if (p == ms.PEnd)
            luaL_error(ms.L, "malformed pattern (ends with '%%')");
        return p + 1;
    case '[':
        if (*p == '^')
            ++p;
        do {
            if (p == ms.PEnd)
                luaL_error(ms.L, "malformed pattern (missing ']')");
            if (*(p++) == kEsc && p < ms.PEnd)
                ++p;
        } while (*p != ']');
        return p + 1;
    default:
        return p;
    }
}

bool MatchClass(int c, int cl) {
    bool res = false;
    switch (std::tolower(cl)) {
    case 'a':
        res = std::isalpha(c) != 0;
        break;
    case 'c':
        res = std::iscntrl(c) != 0;
        break;
    case 'd':
        res = std::isdigit(c) != 0;
        break;
    case 'g':
        res = std::isgraph(c) != 0;
        break;
    case 'l':
        res = std::islower(c) != 0;
        break;
    case 'p':
        res = std::ispunct(c) != 0;
        break;
    case 's':
        res = std::isspace(c) != 0;
        break;
    case 'u':
        res = std::isupper(c) != 0;
        break;
    case 'w':
        res = std::isalnum(c) != 0;
        break;
    case 'x':
        res = std::isxdigit(c) != 0;
        break;
    case 'z': // deprecated, still in Lua's own
        res = c == 0;
        break;
    default:
        return cl == c;
    }
    return std::isupper(cl) != 0 ? !res : res;
}

// `p` at the '[', `ec` at the ']'.
bool MatchBracketClass(int c, const char* p, const char* ec) {
    bool sig = true;
    if (*(p + 1) == '^') {
        sig = false;
        ++p;
    }
    while (++p < ec) {
        if (*p == kEsc) {
            ++p;
            if (MatchClass(c, U(*p)))
                return sig;
        } else if (*(p + 1) == '-' && p + 2 < ec) {
            p += 2;
            if (U(*(p - 2)) <= c && c <= U(*p))
                return sig;
        } else if (U(*p) == c) {
            return sig;
        }
    }
    return !sig;
}

bool SingleMatch(TMatch& ms, const char* s, const char* p, const char* ep) {
    if (s >= ms.SrcEnd)
        return false;
    const int c = U(*s);
    switch (*p) {
    case '.':
        return true;
    case kEsc:
        return MatchClass(c, U(*(p + 1)));
    case '[':
        return MatchBracketClass(c, p, ep - 1);
    default:
        return U(*p) == c;
    }
}

const char* MatchBalance(TMatch& ms, const char* s, const char* p) {
    if (p >= ms.PEnd - 1)
        luaL_error(ms.L, "malformed pattern (missing arguments to '%%b')");
    if (s >= ms.SrcEnd || *s != *p)
        return nullptr;
    const char b = *p;
    const char e = *(p + 1);
    int cont = 1;
    while (++s < ms.SrcEnd) {
        Charge(ms, 1);
        if (*s == e) {
            if (--cont == 0)
                return s + 1;
        } else if (*s == b) {
            ++cont;
        }
    }
    return nullptr;
}

const char* MaxExpand(TMatch& ms, const char* s, const char* p, const char* ep) {
    std::ptrdiff_t i = 0;
    while (SingleMatch(ms, s + i, p, ep)) {
        ++i;
        Charge(ms, 1);
    }
    while (i >= 0) {
        if (const char* res = Match(ms, s + i, ep + 1))
            return res;
        --i;
    }
    return nullptr;
}

const char* MinExpand(TMatch& ms, const char* s, const char* p, const char* ep) {
    for (;;) {
        if (const char* res = Match(ms, s, ep + 1))
            return res;
        if (!SingleMatch(ms, s, p, ep))
            return nullptr;
        ++s;
    }
}

const char* StartCapture(TMatch& ms, const char* s, const char* p, std::ptrdiff_t what) {
    const int level = ms.Level;
    if (level >= kMaxCaptures)
        luaL_error(ms.L, "too many captures");
    ms.Capture[level].Init = s;
    ms.Capture[level].Len = what;
    ms.Level = level + 1;
    const char* res = Match(ms, s, p);
    if (res == nullptr)
        --ms.Level;
    return res;
}

const char* EndCapture(TMatch& ms, const char* s, const char* p) {
    const int l = CaptureToClose(ms);
    ms.Capture[l].Len = s - ms.Capture[l].Init;
    const char* res = Match(ms, s, p);
    if (res == nullptr)
        ms.Capture[l].Len = kUnfinished;
    return res;
}

const char* MatchCapture(TMatch& ms, const char* s, int l) {
    l = CheckCapture(ms, l);
    const auto len = static_cast<std::size_t>(ms.Capture[l].Len);
    Charge(ms, static_cast<long>(len / 32));
    if (static_cast<std::size_t>(ms.SrcEnd - s) >= len &&
        std::memcmp(ms.Capture[l].Init, s, len) == 0)
        return s + len;
    return nullptr;
}

const char* Match(TMatch& ms, const char* s, const char* p) {
    if (ms.Depth-- == 0)
        luaL_error(ms.L, "pattern too complex");
    Charge(ms, 1);
    for (;;) {
        if (p == ms.PEnd)
            break;
        bool dflt = false;
        switch (*p) {
        case '(':
            if (*(p + 1) == ')')
                s = StartCapture(ms, s, p + 2, kPosition);
            else
                s = StartCapture(ms, s, p + 1, kUnfinished);
            break;
        case ')':
            s = EndCapture(ms, s, p + 1);
            break;
        case '$':
            if (p + 1 != ms.PEnd) {
                dflt = true;
                break;
            }
            s = s == ms.SrcEnd ? s : nullptr;
            break;
        case kEsc:
            switch (*(p + 1)) {
            case 'b':
                s = MatchBalance(ms, s, p + 2);
                if (s != nullptr) {
                    p += 4;
                    continue;
                }
                break;
            case 'f': {
                p += 2;
                if (*p != '[')
                    luaL_error(ms.L, "missing '[' after '%%f' in pattern");
                const char* ep = ClassEnd(ms, p);
                const char previous = s == ms.SrcInit ? '\0' : *(s - 1);
                if (!MatchBracketClass(U(previous), p, ep - 1) &&
                    MatchBracketClass(U(*s), p, ep - 1)) {
                    p = ep;
                    continue;
                }
                s = nullptr;
                break;
            }
            case '0':
            case '1':
            case '2':
            case '3':
            case '4':
            case '5':
            case '6':
            case '7':
            case '8':
            case '9':
                s = MatchCapture(ms, s, U(*(p + 1)));
                if (s != nullptr) {
                    p += 2;
                    continue;
                }
                break;
            default:
                dflt = true;
                break;
            }
            break;
        default:
            dflt = true;
            break;
        }
        if (!dflt)
            break;
        // A single-character class and its optional suffix.
        const char* ep = ClassEnd(ms, p);
        if (!SingleMatch(ms, s, p, ep)) {
            if (*ep == '*' || *ep == '?' || *ep == '-') {
                p = ep + 1;
                continue;
            }
            s = nullptr;
            break;
        }
        if (*ep == '?') {
            if (const char* res = Match(ms, s + 1, ep + 1)) {
                s = res;
                break;
            }
            p = ep + 1;
            continue;
        }
        if (*ep == '+') {
            s = MaxExpand(ms, s + 1, p, ep);
            break;
        }
        if (*ep == '*') {
            s = MaxExpand(ms, s, p, ep);
            break;
        }
        if (*ep == '-') {
            s = MinExpand(ms, s, p, ep);
            break;
        }
        ++s;
        p = ep;
    }
    ++ms.Depth;
    return s;
}

// The capture's length, or kPosition with its position pushed.
std::ptrdiff_t GetCapture(TMatch& ms, int i, const char* s, const char* e, const char** cap) {
    if (i >= ms.Level) {
        if (i != 0)
            luaL_error(ms.L, "invalid capture index %%%d", i + 1);
        *cap = s;
        return e - s;
    }
    const std::ptrdiff_t len = ms.Capture[i].Len;
    *cap = ms.Capture[i].Init;
    if (len == kUnfinished)
        luaL_error(ms.L, "unfinished capture");
    else if (len == kPosition)
        lua_pushinteger(ms.L, (ms.Capture[i].Init - ms.SrcInit) + 1);
    return len;
}

void PushCapture(TMatch& ms, int i, const char* s, const char* e) {
    const char* cap = nullptr;
    const std::ptrdiff_t len = GetCapture(ms, i, s, e, &cap);
    if (len != kPosition)
        lua_pushlstring(ms.L, cap, static_cast<std::size_t>(len));
}

int PushCaptures(TMatch& ms, const char* s, const char* e) {
    const int n = (ms.Level == 0 && s != nullptr) ? 1 : ms.Level;
    luaL_checkstack(ms.L, n, "too many captures");
    for (int i = 0; i < n; ++i)
        PushCapture(ms, i, s, e);
    return n;
}

bool NoSpecials(const char* p, std::size_t lp) {
    std::size_t upto = 0;
    do {
        if (std::strpbrk(p + upto, kSpecials) != nullptr)
            return false;
        upto += std::strlen(p + upto) + 1;
    } while (upto <= lp);
    return true;
}

void Prepare(TMatch& ms, lua_State* L, const char* s, std::size_t ls, const char* p,
             std::size_t lp) {
    ms.L = L;
    ms.Depth = kMaxDepth;
    ms.Level = 0;
    ms.Steps = kStepsPerCheck;
    ms.SrcInit = s;
    ms.SrcEnd = s + ls;
    ms.PEnd = p + lp;
}

// Also after an error a gmatch iterator may be called again: the depth starts afresh.
void Restart(TMatch& ms) {
    ms.Level = 0;
    ms.Depth = kMaxDepth;
}

std::size_t StartAt(lua_Integer pos, std::size_t len) {
    if (pos > 0)
        return static_cast<std::size_t>(pos);
    if (pos == 0 || pos < -static_cast<lua_Integer>(len))
        return 1;
    return len + static_cast<std::size_t>(pos) + 1;
}

const char* PlainFind(TMatch& ms, const char* s1, std::size_t l1, const char* s2, std::size_t l2) {
    if (l2 == 0)
        return s1;
    if (l2 > l1)
        return nullptr;
    --l2;
    l1 -= l2;
    const char* init = nullptr;
    while (l1 > 0 && (init = static_cast<const char*>(std::memchr(s1, *s2, l1))) != nullptr) {
        ++init;
        Charge(ms, 1 + static_cast<long>((l2 + static_cast<std::size_t>(init - s1)) / 32));
        if (std::memcmp(init, s2 + 1, l2) == 0)
            return init - 1;
        l1 -= static_cast<std::size_t>(init - s1);
        s1 = init;
    }
    return nullptr;
}

int FindAux(lua_State* L, bool find) {
    std::size_t ls = 0;
    std::size_t lp = 0;
    const char* s = luaL_checklstring(L, 1, &ls);
    const char* p = luaL_checklstring(L, 2, &lp);
    const std::size_t init = StartAt(luaL_optinteger(L, 3, 1), ls) - 1;
    if (init > ls) {
        luaL_pushfail(L);
        return 1;
    }
    TMatch ms;
    if (find && (lua_toboolean(L, 4) != 0 || NoSpecials(p, lp))) {
        Prepare(ms, L, s, ls, p, lp);
        if (const char* s2 = PlainFind(ms, s + init, ls - init, p, lp)) {
            lua_pushinteger(L, (s2 - s) + 1);
            lua_pushinteger(L, (s2 - s) + static_cast<lua_Integer>(lp));
            return 2;
        }
    } else {
        const char* s1 = s + init;
        const bool anchor = *p == '^';
        if (anchor) {
            ++p;
            --lp;
        }
        Prepare(ms, L, s, ls, p, lp);
        do {
            Restart(ms);
            if (const char* res = Match(ms, s1, p)) {
                if (find) {
                    lua_pushinteger(L, (s1 - s) + 1);
                    lua_pushinteger(L, res - s);
                    return PushCaptures(ms, nullptr, nullptr) + 2;
                }
                return PushCaptures(ms, s1, res);
            }
        } while (s1++ < ms.SrcEnd && !anchor);
    }
    luaL_pushfail(L);
    return 1;
}

int Find(lua_State* L) {
    return FindAux(L, true);
}

int MatchFn(lua_State* L) {
    return FindAux(L, false);
}

struct TGMatch {
    const char* Src;
    const char* P;
    const char* LastMatch;
    TMatch Ms;
};

int GMatchNext(lua_State* L) {
    auto* gm = static_cast<TGMatch*>(lua_touserdata(L, lua_upvalueindex(3)));
    gm->Ms.L = L;
    for (const char* src = gm->Src; src <= gm->Ms.SrcEnd; ++src) {
        Restart(gm->Ms);
        const char* e = Match(gm->Ms, src, gm->P);
        if (e != nullptr && e != gm->LastMatch) {
            gm->Src = gm->LastMatch = e;
            return PushCaptures(gm->Ms, src, e);
        }
    }
    return 0;
}

int GMatch(lua_State* L) {
    std::size_t ls = 0;
    std::size_t lp = 0;
    const char* s = luaL_checklstring(L, 1, &ls);
    const char* p = luaL_checklstring(L, 2, &lp);
    std::size_t init = StartAt(luaL_optinteger(L, 3, 1), ls) - 1;
    // The strings stay as the closure's upvalues, so that they live as long as the iterator.
    lua_settop(L, 2);
    auto* gm = static_cast<TGMatch*>(lua_newuserdatauv(L, sizeof(TGMatch), 0));
    if (init > ls)
        init = ls + 1;
    Prepare(gm->Ms, L, s, ls, p, lp);
    gm->Src = s + init;
    gm->P = p;
    gm->LastMatch = nullptr;
    lua_pushcclosure(L, GMatchNext, 3);
    return 1;
}

void AddString(TMatch& ms, luaL_Buffer& b, const char* s, const char* e) {
    lua_State* L = ms.L;
    std::size_t l = 0;
    const char* news = lua_tolstring(L, 3, &l);
    const char* p = nullptr;
    while ((p = static_cast<const char*>(std::memchr(news, kEsc, l))) != nullptr) {
        luaL_addlstring(&b, news, static_cast<std::size_t>(p - news));
        ++p;
        if (*p == kEsc) {
            luaL_addchar(&b, *p);
        } else if (*p == '0') {
            luaL_addlstring(&b, s, static_cast<std::size_t>(e - s));
        } else if (std::isdigit(U(*p)) != 0) {
            const char* cap = nullptr;
            const std::ptrdiff_t len = GetCapture(ms, *p - '1', s, e, &cap);
            if (len == kPosition)
                luaL_addvalue(&b);
            else
                luaL_addlstring(&b, cap, static_cast<std::size_t>(len));
        } else {
            luaL_error(L, "invalid use of '%c' in replacement string", kEsc);
        }
        l -= static_cast<std::size_t>(p + 1 - news);
        news = p + 1;
    }
    luaL_addlstring(&b, news, l);
}

// False when the match is kept as it was (the function or table gave nil or false).
bool AddValue(TMatch& ms, luaL_Buffer& b, const char* s, const char* e, int tr) {
    lua_State* L = ms.L;
    switch (tr) {
    case LUA_TFUNCTION: {
        lua_pushvalue(L, 3);
        const int n = PushCaptures(ms, s, e);
        lua_call(L, n, 1);
        break;
    }
    case LUA_TTABLE:
        PushCapture(ms, 0, s, e);
        lua_gettable(L, 3);
        break;
    default:
        AddString(ms, b, s, e);
        return true;
    }
    if (lua_toboolean(L, -1) == 0) {
        lua_pop(L, 1);
        luaL_addlstring(&b, s, static_cast<std::size_t>(e - s));
        return false;
    }
    if (lua_isstring(L, -1) == 0)
        luaL_error(L, "invalid replacement value (a %s)", luaL_typename(L, -1));
    luaL_addvalue(&b);
    return true;
}

int GSub(lua_State* L) {
    std::size_t srcl = 0;
    std::size_t lp = 0;
    const char* src = luaL_checklstring(L, 1, &srcl);
    const char* p = luaL_checklstring(L, 2, &lp);
    const char* lastMatch = nullptr;
    const int tr = lua_type(L, 3);
    const lua_Integer maxN = luaL_optinteger(L, 4, static_cast<lua_Integer>(srcl) + 1);
    const bool anchor = *p == '^';
    lua_Integer n = 0;
    bool changed = false;
    luaL_argexpected(
        L, tr == LUA_TNUMBER || tr == LUA_TSTRING || tr == LUA_TFUNCTION || tr == LUA_TTABLE, 3,
        "string/function/table");
    TMatch ms;
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    if (anchor) {
        ++p;
        --lp;
    }
    Prepare(ms, L, src, srcl, p, lp);
    while (n < maxN) {
        Restart(ms);
        const char* e = Match(ms, src, p);
        if (e != nullptr && e != lastMatch) {
            ++n;
            changed = AddValue(ms, b, src, e, tr) || changed;
            src = lastMatch = e;
        } else if (src < ms.SrcEnd) {
            // The analyser cannot see that luaL_buffinit gave the buffer its storage.
            luaL_addchar(&b, *src++); // NOLINT(clang-analyzer-core.NullDereference)
        } else {
            break;
        }
        if (anchor)
            break;
    }
    if (!changed) {
        lua_pushvalue(L, 1);
    } else {
        luaL_addlstring(&b, src, static_cast<std::size_t>(ms.SrcEnd - src));
        luaL_pushresult(&b);
    }
    lua_pushinteger(L, n);
    return 2;
}

} // namespace

void OpenPatternFunctions(lua_State* L) {
    static const luaL_Reg fns[] = {
        {"find", Find}, {"match", MatchFn}, {"gmatch", GMatch}, {"gsub", GSub}, {nullptr, nullptr},
    };
    luaL_setfuncs(L, fns, 0);
}

} // namespace vorlen
