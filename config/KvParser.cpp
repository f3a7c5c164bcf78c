#include "config/KvParser.h"

#include <cwctype>
#include <limits>

#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"

namespace {

// Token kinds: the operator texts first, in the order they are matched (two-character
// operators before their one-character prefixes).
constexpr int TK_LAND = 0, TK_LOR = 1, TK_SHL = 2, TK_SHR = 3, TK_PLUS = 4, TK_MINUS = 5,
              TK_MUL = 6, TK_DIV = 7, TK_MOD = 8, TK_XOR = 9, TK_LNOT = 10, TK_NOT = 11,
              TK_AND = 12, TK_OR = 13, TK_LBRACKET = 14, TK_RBRACKET = 15, TK_LPAREN = 16,
              TK_RPAREN = 17, TK_COMMA = 18;
constexpr int TK_FUNC_FIRST = 19;                          // "log10" ... "x": 19 + function code
constexpr int TK_FUNC_X = TK_FUNC_FIRST + KVFN_X;
constexpr int TK_VAR_FIRST = TK_FUNC_FIRST + KVFN_BYTES1;  // key-byte variables: 28..36
constexpr int TK_VAR_LAST = TK_FUNC_FIRST + KVFN_NIBBLES16;
constexpr int TK_NUMBER = 37;
constexpr int TK_END = 38;

const wchar_t* const kOperatorTexts[] = {
    L"&&", L"||", L"<<", L">>", L"+", L"-", L"*", L"/", L"%", L"^",
    L"!", L"~", L"&", L"|", L"[", L"]", L"(", L")", L","};

const wchar_t* const kFunctionNames[] = {L"log10", L"rbit", L"cbit", L"set", L"get",
                                         L"ds", L"w", L"w2", L"x"};

// Binary levels from the loosest binding to the tightest.
struct BinaryOp { int token; int op; };
struct BinaryLevel { BinaryOp ops[3]; int count; };
const BinaryLevel kLevels[] = {
    {{{TK_LOR, KVOP_LOR}}, 1},
    {{{TK_LAND, KVOP_LAND}}, 1},
    {{{TK_OR, KVOP_OR}}, 1},
    {{{TK_XOR, KVOP_XOR}}, 1},
    {{{TK_AND, KVOP_AND}}, 1},
    {{{TK_SHL, KVOP_SHL}, {TK_SHR, KVOP_SHR}}, 2},
    {{{TK_PLUS, KVOP_ADD}, {TK_MINUS, KVOP_SUB}}, 2},
    {{{TK_MUL, KVOP_MUL}, {TK_DIV, KVOP_DIV}, {TK_MOD, KVOP_MOD}}, 3},
};
constexpr int kLevelCount = static_cast<int>(sizeof(kLevels) / sizeof(kLevels[0]));

// Bounds against hostile texts: each paren, call or unary minus costs a few stack frames
// while parsing, and every tree level one frame while evaluating and destroying. No real
// format comes near these.
constexpr size_t kMaxNesting = 128;
constexpr size_t kMaxTreeDepth = 256;

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    return c - L'A' + 10;
}

bool IsBaseDigit(wchar_t c, int base)
{
    switch (base)
    {
    case 2: return c == L'0' || c == L'1';
    case 8: return c >= L'0' && c <= L'7';
    case 10: return c >= L'0' && c <= L'9';
    default: return IsHexDigit(c);
    }
}

// Number text in its base; values above 2^63-1 read as 2^63-1.
int64_t ConvertNumber(const std::wstring& text, int base)
{
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    uint64_t value = 0;
    for (wchar_t c : text)
    {
        uint64_t digit = static_cast<uint64_t>(HexValue(c));
        if (value > (limit - digit) / static_cast<uint64_t>(base))
            return std::numeric_limits<int64_t>::max();
        value = value * static_cast<uint64_t>(base) + digit;
    }
    return static_cast<int64_t>(value);
}

// Index code of an index character of a key-byte variable, or 0x7FFF when it is none.
int IndexCode(wchar_t c)
{
    if (IsHexDigit(c))
        return HexValue(c);
    switch (c)
    {
    case L'l': return KVIX_LENGTH;
    case L'x': return KVIX_CRC6;
    case L'y': return KVIX_CRC3;
    case L'z': return KVIX_ZERO;
    default: return 0x7FFF;
    }
}

// CRC-8 of a 1-Wire ROM image: family code 0x01, then up to `count` key bytes, zero filled.
int RomCrc(const BYTE* key, int keyLength, int count)
{
    if (keyLength <= 0)
        return 0;
    BYTE rom[7] = {0x01};
    for (int i = 0; i < count && i < keyLength; ++i)
        rom[i + 1] = key[i];
    return DallasCrc8(rom, 7);
}

int ByteAt(int code, const BYTE* key, int keyLength)
{
    if (code >= 0)
        return code < keyLength ? key[code] : 0;
    switch (code)
    {
    case KVIX_LENGTH: return keyLength & 0xFF;
    case KVIX_CRC6: return RomCrc(key, keyLength, 6);
    case KVIX_CRC3: return RomCrc(key, keyLength, 3);
    default: return 0;
    }
}

uint64_t LowBytesMask(int bytes)
{
    return bytes >= 8 ? ~0ULL : (1ULL << (8 * bytes)) - 1;
}

int CountOnes(uint64_t v)
{
    int n = 0;
    for (; v; v &= v - 1)
        ++n;
    return n;
}

// Ones among bits lo..hi (inclusive); an empty range holds none.
int CountOnes(uint64_t v, int lo, int hi)
{
    if (lo > hi || hi < 0)
        return 0;
    uint64_t mask = (hi >= 63 ? ~0ULL : (1ULL << (hi + 1)) - 1) & ~((1ULL << lo) - 1);
    return CountOnes(v & mask);
}

}  // namespace

// --- exception ------------------------------------------------------------------------

CKvParserException::CKvParserException(HRESULT code, int position, const std::wstring& tokenText)
    : m_code(code), m_position(position)
{
    std::wstring text;
    GetSystemMessageText(text, GetResourceModule(), static_cast<DWORD>(code));
    text += L" \"" + tokenText + L"\"";
    m_text = WStringToMultiByte(text, CP_ACP);
}

// --- evaluation -----------------------------------------------------------------------

int64_t CKvOperatorNode::Evaluate(const BYTE* key, int keyLength)
{
    const int64_t a = m_left->Evaluate(key, keyLength);
    switch (m_op)
    {
    case KVOP_NOT: return ~a;
    case KVOP_LNOT: return a == 0;
    case KVOP_NEG: return static_cast<int64_t>(0 - static_cast<uint64_t>(a));
    case KVOP_LAND: return a != 0 && m_right->Evaluate(key, keyLength) != 0;
    case KVOP_LOR: return a != 0 || m_right->Evaluate(key, keyLength) != 0;
    default: break;
    }
    const int64_t b = m_right->Evaluate(key, keyLength);
    const uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
    switch (m_op)
    {
    case KVOP_ADD: return static_cast<int64_t>(ua + ub);
    case KVOP_SUB: return static_cast<int64_t>(ua - ub);
    case KVOP_MUL: return static_cast<int64_t>(ua * ub);
    // Division by zero gives 0; the one overflowing quotient wraps like the other
    // operators, and its remainder is 0.
    case KVOP_DIV:
        if (b == 0)
            return 0;
        if (b == -1)
            return static_cast<int64_t>(0 - ua);
        return a / b;
    case KVOP_MOD:
        if (b == 0 || b == -1)
            return 0;
        return a % b;
    case KVOP_SHL:
    {
        unsigned count = static_cast<unsigned>(ub & 0xFF);
        return count >= 64 ? 0 : static_cast<int64_t>(ua << count);
    }
    case KVOP_SHR:
    {
        unsigned count = static_cast<unsigned>(ub & 0xFF);
        if (count >= 64)
            return a < 0 ? -1 : 0;
        return a >> count;
    }
    case KVOP_AND: return a & b;
    case KVOP_XOR: return a ^ b;
    case KVOP_OR: return a | b;
    default: return 0;
    }
}

int64_t CKvFuncNode::EvaluateBytes(int count, const BYTE* key, int keyLength)
{
    uint64_t result = 0;
    for (size_t j = 0; j < m_args.size() && j < static_cast<size_t>(count); ++j)
    {
        int code = static_cast<int>(Arg(j, key, keyLength));
        result |= static_cast<uint64_t>(ByteAt(code, key, keyLength)) << (8 * j);
    }
    return static_cast<int64_t>(result);
}

int64_t CKvFuncNode::EvaluateNibbles(int count, const BYTE* key, int keyLength)
{
    uint64_t result = 0;
    for (size_t j = 0; j < m_args.size() && j < static_cast<size_t>(count); ++j)
    {
        int code = static_cast<int>(Arg(j, key, keyLength));
        int nibble = 0;
        if (code >= 0)
        {
            int byte = code / 2 < keyLength ? key[code / 2] : 0;
            nibble = (code & 1) ? byte >> 4 : byte & 0x0F;
        }
        else if (code != KVIX_ZERO)
            nibble = ByteAt(code, key, keyLength) & 0x0F;
        result |= static_cast<uint64_t>(nibble) << (4 * j);
    }
    return static_cast<int64_t>(result);
}

// A Wiegand frame of n bits: data in bits 1..n-2, odd parity over the low half in bit 0,
// even parity over the high half in bit n-1; `marks` adds bits n and 37 for short frames.
int64_t CKvFuncNode::EvaluateWiegand(bool marks, const BYTE* key, int keyLength)
{
    if (m_args.size() < 3)
        return 0;
    const int n = static_cast<int32_t>(Arg(0, key, keyLength));
    const int k = static_cast<int32_t>(Arg(1, key, keyLength));
    if (n < 1 || n > 64 || k < 1 || k > 7)
        return 0;

    const int d = n - 2;
    const size_t needed = d > 0 ? static_cast<size_t>((d + 7) / 8) : 0;
    std::vector<BYTE> bytes;
    for (size_t i = 2; i < m_args.size(); ++i)
    {
        const uint64_t v = static_cast<uint64_t>(Arg(i, key, keyLength));
        for (int b = 0; b < k; ++b)
            bytes.push_back(static_cast<BYTE>(v >> (8 * b)));
    }
    uint64_t data = 0;
    for (size_t i = 0; i < needed && i < bytes.size(); ++i)
        data |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    data = d > 0 ? data & ((1ULL << d) - 1) : 0;

    uint64_t frame = data << 1;
    const int e = (n % 2) + d / 2;
    const int g = e + 1 - (n % 2);
    if (CountOnes(frame, 1, e) % 2 == 0)
        frame |= 1;
    if (CountOnes(frame, g, d) % 2 == 1)
        frame |= 1ULL << (n - 1);
    if (marks && n <= 36)
        frame |= (1ULL << n) | (1ULL << 37);
    return static_cast<int64_t>(frame);
}

int64_t CKvFuncNode::Evaluate(const BYTE* key, int keyLength)
{
    const size_t argc = m_args.size();
    switch (m_func)
    {
    case KVFN_LOG10:
    {
        if (argc < 1)
            return 0;
        int64_t v = Arg(0, key, keyLength);
        if (v == 0)
            return -1;
        if (v < 0)
            return std::numeric_limits<int64_t>::min();
        // Counted in integers: the double of a 19-digit value may round up to the next power of ten.
        int64_t digits = 0;
        for (; v >= 10; v /= 10)
            ++digits;
        return digits;
    }
    case KVFN_RBIT:
    case KVFN_CBIT:
    {
        if (argc < 2)
            return 0;
        const int bytes = static_cast<int32_t>(Arg(0, key, keyLength));
        const uint64_t v = static_cast<uint64_t>(Arg(1, key, keyLength));
        if (bytes < 1 || bytes > 8)
            return 0;
        const uint64_t mask = LowBytesMask(bytes);
        if (m_func == KVFN_CBIT)
            return CountOnes(v & mask);
        const int bits = 8 * bytes;
        uint64_t reversed = 0;
        for (int i = 0; i < bits; ++i)
            if ((v >> i) & 1)
                reversed |= 1ULL << (bits - 1 - i);
        return static_cast<int64_t>((v & ~mask) | reversed);
    }
    case KVFN_SET:
    {
        if (argc < 2)
            return 0;
        const int32_t k = static_cast<int32_t>(Arg(0, key, keyLength));
        const int64_t v = Arg(1, key, keyLength);
        m_parser->SetVariable(k, v);
        return v;
    }
    case KVFN_GET:
        return argc < 1 ? 0 : m_parser->GetVariable(static_cast<int32_t>(Arg(0, key, keyLength)));
    case KVFN_DS:
    {
        if (argc < 1)
            return 0;
        const int n = static_cast<int32_t>(Arg(0, key, keyLength));
        if (n < 1 || n > 7)
            return 0;
        std::vector<BYTE> bytes;
        for (size_t i = 1; i < argc; ++i)
        {
            const uint64_t v = static_cast<uint64_t>(Arg(i, key, keyLength));
            for (int b = 0; b < n; ++b)
                bytes.push_back(static_cast<BYTE>(v >> (8 * b)));
        }
        return DallasCrc8(bytes.data(), static_cast<int>(bytes.size()));
    }
    case KVFN_W: return EvaluateWiegand(true, key, keyLength);
    case KVFN_W2: return EvaluateWiegand(false, key, keyLength);
    case KVFN_X:
    {
        if (argc < 1)
            return 0;
        const int32_t i = static_cast<int32_t>(Arg(0, key, keyLength));
        return i >= 0 && i < keyLength ? key[i] : 0;
    }
    case KVFN_BYTES1: return EvaluateBytes(1, key, keyLength);
    case KVFN_BYTES2: return EvaluateBytes(2, key, keyLength);
    case KVFN_BYTES4: return EvaluateBytes(4, key, keyLength);
    case KVFN_BYTES8: return EvaluateBytes(8, key, keyLength);
    case KVFN_NIBBLES1: return EvaluateNibbles(1, key, keyLength);
    case KVFN_NIBBLES2: return EvaluateNibbles(2, key, keyLength);
    case KVFN_NIBBLES4: return EvaluateNibbles(4, key, keyLength);
    case KVFN_NIBBLES8: return EvaluateNibbles(8, key, keyLength);
    case KVFN_NIBBLES16: return EvaluateNibbles(16, key, keyLength);
    default: return 0;
    }
}

int64_t CKvParser::GetVariable(int32_t key) const
{
    auto it = m_variables.find(key);
    return it == m_variables.end() ? 0 : it->second;
}

const std::vector<int64_t>& CKvParser::Evaluate(const BYTE* key, int keyLength)
{
    if (keyLength < 0 || !key)
        keyLength = 0;
    m_key.assign(key, key + keyLength);
    m_results.clear();
    for (auto& root : m_roots)
        m_results.push_back(root->Evaluate(m_key.data(), keyLength));
    return m_results;
}

// --- tokenizer ------------------------------------------------------------------------

void CKvParser::Fail(HRESULT code)
{
    throw CKvParserException(code, static_cast<int>(m_token.end - m_token.text.size()), m_token.text);
}

void CKvParser::FailAt(HRESULT code, size_t position, const std::wstring& quoted)
{
    throw CKvParserException(code, static_cast<int>(position), quoted);
}

void CKvParser::NextToken()
{
    while (m_pos < m_source.size() && iswspace(m_source[m_pos]))
        ++m_pos;
    m_token.text.clear();
    m_token.base = 10;
    if (m_pos >= m_source.size())
    {
        m_token.kind = TK_END;
        m_token.end = m_pos;
        return;
    }
    const wchar_t c = m_source[m_pos];
    if (c >= L'0' && c <= L'9')
        ReadNumber();
    else if (iswalpha(c))
        ReadIdentifier();
    else
        ReadOperator();
    m_token.end = m_pos;
}

void CKvParser::ReadNumber()
{
    m_token.kind = TK_NUMBER;
    if (m_source[m_pos] == L'0')
    {
        m_token.base = 8;
        m_token.text = L"0";
        ++m_pos;
        if (m_pos < m_source.size())
        {
            const wchar_t p = m_source[m_pos];
            if (p == L'x' || p == L'X' || p == L'b' || p == L'B')
            {
                m_token.base = (p == L'x' || p == L'X') ? 16 : 2;
                m_token.text.clear();
                ++m_pos;
                if (m_pos >= m_source.size())
                {
                    m_token.end = m_pos;
                    Fail(KV_E_UNEXPECTED_END);
                }
                if (!IsHexDigit(m_source[m_pos]))
                    FailAt(KV_E_BAD_SUFFIX, m_pos, std::wstring(1, m_source[m_pos]));
            }
        }
    }
    while (m_pos < m_source.size() && IsBaseDigit(m_source[m_pos], m_token.base))
        m_token.text += m_source[m_pos++];
}

void CKvParser::ReadIdentifier()
{
    const size_t start = m_pos;
    while (m_pos < m_source.size() && iswalnum(m_source[m_pos]))
        m_token.text += static_cast<wchar_t>(towlower(m_source[m_pos++]));
    const std::wstring& id = m_token.text;

    if (m_pos < m_source.size() && (m_source[m_pos] == L'(' || m_source[m_pos] == L'['))
    {
        for (int i = 0; i <= KVFN_X; ++i)
            if (id == kFunctionNames[i])
            {
                m_token.kind = TK_FUNC_FIRST + i;
                return;
            }
    }

    if (id.size() < 2)
        FailAt(KV_E_UNKNOWN_KEYWORD, start, id);
    int byteKind;  // 0..3 for 1, 2, 4 and 8 bytes
    switch (id[0])
    {
    case L'b': byteKind = 0; break;
    case L'w': byteKind = 1; break;
    case L'i':
    case L'l': byteKind = 2; break;
    case L'm': byteKind = 3; break;
    case L'h': byteKind = -1; break;
    default: FailAt(KV_E_UNKNOWN_KEYWORD, start, id);
    }
    size_t prefix = 1;
    int count;
    if (byteKind < 0)
    {
        m_token.kind = TK_FUNC_FIRST + KVFN_NIBBLES1;
        count = 1;
    }
    else if (id[1] == L'h')
    {
        prefix = 2;
        m_token.kind = TK_FUNC_FIRST + KVFN_NIBBLES2 + byteKind;
        count = 2 << byteKind;
    }
    else
    {
        m_token.kind = TK_FUNC_FIRST + KVFN_BYTES1 + byteKind;
        count = 1 << byteKind;
    }
    for (size_t i = prefix; i < id.size() && i < prefix + static_cast<size_t>(count); ++i)
        if (IndexCode(id[i]) == 0x7FFF)
            FailAt(KV_E_UNKNOWN_KEYWORD, start, id);
}

void CKvParser::ReadOperator()
{
    for (int kind = 0; kind <= TK_COMMA; ++kind)
    {
        const std::wstring_view op(kOperatorTexts[kind]);
        if (m_source.compare(m_pos, op.size(), op) == 0)
        {
            m_token.kind = kind;
            m_pos += op.size();
            return;
        }
    }
    FailAt(KV_E_UNKNOWN_SYMBOL, m_pos, std::wstring(1, m_source[m_pos]));
}

// --- grammar --------------------------------------------------------------------------

void CKvParser::Parse(const std::wstring& text)
{
    m_pos = 0;
    m_source = text;
    m_roots.clear();
    m_variables.clear();
    m_results.clear();
    m_nesting = 0;
    try
    {
        NextToken();
        while (m_token.kind != TK_END)
        {
            m_roots.push_back(ParseExpression());
            if (m_token.kind == TK_COMMA)
                NextToken();
        }
    }
    catch (...)
    {
        m_roots.clear();
        throw;
    }
}

KvNodePtr CKvParser::ParseExpression()
{
    return ParseBinary(0);
}

// Hostile texts (thousands of nested parentheses or chained operators) must not exhaust
// the stack; they are refused at the operator that passes the bound.
KvNodePtr CKvParser::Bounded(KvNodePtr node, size_t position, const wchar_t* quoted)
{
    if (node->GetDepth() > kMaxTreeDepth)
        FailAt(KV_E_UNEXPECTED_OPERATOR, position, quoted);
    return node;
}

void CKvParser::Enter(size_t position, const wchar_t* quoted)
{
    if (++m_nesting > kMaxNesting)
        FailAt(KV_E_UNEXPECTED_OPERATOR, position, quoted);
}

KvNodePtr CKvParser::ParseBinary(int level)
{
    if (level >= kLevelCount)
        return ParseUnary();
    KvNodePtr left = ParseBinary(level + 1);
    const BinaryLevel& ops = kLevels[level];
    for (;;)
    {
        int op = -1;
        for (int i = 0; i < ops.count; ++i)
            if (m_token.kind == ops.ops[i].token)
                op = ops.ops[i].op;
        if (op < 0)
            return left;
        const wchar_t* text = kOperatorTexts[m_token.kind];
        const size_t start = m_token.end - wcslen(text);
        NextToken();
        KvNodePtr right = ParseBinary(level + 1);
        left = Bounded(std::make_unique<CKvOperatorNode>(op, std::move(left), std::move(right)), start, text);
    }
}

KvNodePtr CKvParser::ParseUnary()
{
    while (m_token.kind == TK_PLUS)
        NextToken();
    int op;
    switch (m_token.kind)
    {
    case TK_MINUS: op = KVOP_NEG; break;
    case TK_LNOT: op = KVOP_LNOT; break;
    case TK_NOT: op = KVOP_NOT; break;
    default: return ParsePrimary();
    }
    const wchar_t* text = kOperatorTexts[m_token.kind];
    const size_t start = m_token.end - 1;
    Enter(start, text);
    NextToken();
    KvNodePtr node = Bounded(std::make_unique<CKvOperatorNode>(op, ParseUnary()), start, text);
    --m_nesting;
    return node;
}

KvNodePtr CKvParser::ParseCall(int func)
{
    auto node = std::make_unique<CKvFuncNode>(func, this);
    NextToken();
    const int open = func == KVFN_X ? TK_LBRACKET : TK_LPAREN;
    if (m_token.kind != open)
        Fail(KV_E_EXPECTED_OPEN);
    const wchar_t* openText = kOperatorTexts[open];
    const size_t openPos = m_token.end - 1;
    Enter(openPos, openText);
    NextToken();
    if (func == KVFN_X)
    {
        node->AddArgument(ParseExpression());
        if (m_token.kind != TK_RBRACKET)
            Fail(KV_E_EXPECTED_CLOSE);
    }
    else if (m_token.kind != TK_RPAREN)
    {
        for (;;)
        {
            node->AddArgument(ParseExpression());
            if (m_token.kind != TK_COMMA)
                break;
            NextToken();
        }
        if (m_token.kind != TK_RPAREN)
            Fail(KV_E_EXPECTED_CLOSE);
    }
    --m_nesting;
    NextToken();
    return Bounded(std::move(node), openPos, openText);
}

KvNodePtr CKvParser::ParseVariable()
{
    const int func = m_token.kind - TK_FUNC_FIRST;
    size_t prefix = 1, count;
    switch (func)
    {
    case KVFN_BYTES1: count = 1; break;
    case KVFN_BYTES2: count = 2; break;
    case KVFN_BYTES4: count = 4; break;
    case KVFN_BYTES8: count = 8; break;
    case KVFN_NIBBLES1: count = 1; break;
    default: prefix = 2; count = 2u << (func - KVFN_NIBBLES2); break;
    }
    auto node = std::make_unique<CKvFuncNode>(func, this);
    const std::wstring& id = m_token.text;
    for (size_t i = prefix; i < id.size() && i < prefix + count; ++i)
        node->AddArgument(std::make_unique<CKvValueNode>(IndexCode(id[i])));
    NextToken();
    return node;
}

KvNodePtr CKvParser::ParsePrimary()
{
    const int kind = m_token.kind;
    if (kind == TK_LPAREN)
    {
        Enter(m_token.end - 1, L"(");
        NextToken();
        KvNodePtr inner = ParseExpression();
        if (m_token.kind != TK_RPAREN)
            Fail(KV_E_EXPECTED_CLOSE);
        --m_nesting;
        NextToken();
        return inner;
    }
    if (kind >= TK_FUNC_FIRST && kind <= TK_FUNC_X)
        return ParseCall(kind - TK_FUNC_FIRST);
    if (kind >= TK_VAR_FIRST && kind <= TK_VAR_LAST)
        return ParseVariable();
    if (kind == TK_NUMBER)
    {
        auto node = std::make_unique<CKvValueNode>(ConvertNumber(m_token.text, m_token.base));
        NextToken();
        return node;
    }
    if (kind == TK_END)
        Fail(KV_E_UNEXPECTED_END);
    const std::wstring op = kOperatorTexts[kind];
    FailAt(KV_E_UNEXPECTED_OPERATOR, m_token.end - op.size(), op);
}
