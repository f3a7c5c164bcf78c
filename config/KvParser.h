#pragma once
// The parameter language of a format: a list of integer expressions over the bytes of a
// key number. Parsed once into trees, then evaluated against one key, giving one signed
// 64-bit value per expression. UI thread; one parser per rendering or check.

#include <windows.h>
#include <cstdint>
#include <algorithm>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CKvParser;

// A syntax error of a params text: result code, index into the text, and the message
// (message-table text plus the quoted token) in the ANSI code page.
class CKvParserException : public std::exception
{
public:
    CKvParserException(HRESULT code, int position, const std::wstring& tokenText);
    const char* what() const noexcept override { return m_text.c_str(); }
    HRESULT GetCode() const { return m_code; }
    int GetPosition() const { return m_position; }

private:
    HRESULT m_code;
    int m_position;
    std::string m_text;
};

class CKvParseNode
{
public:
    virtual ~CKvParseNode() = default;
    virtual int64_t Evaluate(const BYTE* key, int keyLength) = 0;
    // Levels of the tree below and including this node; evaluation recurses this deep.
    size_t GetDepth() const { return m_depth; }

protected:
    size_t m_depth = 1;
};

using KvNodePtr = std::unique_ptr<CKvParseNode>;

class CKvValueNode : public CKvParseNode
{
public:
    explicit CKvValueNode(int64_t value) : m_value(value) {}
    int64_t Evaluate(const BYTE*, int) override { return m_value; }
    int64_t GetValue() const { return m_value; }

private:
    int64_t m_value;
};

enum KvOperator
{
    KVOP_ADD, KVOP_SUB, KVOP_MUL, KVOP_DIV, KVOP_MOD, KVOP_NOT, KVOP_LNOT, KVOP_NEG,
    KVOP_SHL, KVOP_SHR, KVOP_AND, KVOP_XOR, KVOP_OR, KVOP_LAND, KVOP_LOR
};

class CKvOperatorNode : public CKvParseNode
{
public:
    CKvOperatorNode(int op, KvNodePtr left, KvNodePtr right = nullptr)
        : m_op(op), m_left(std::move(left)), m_right(std::move(right))
    {
        m_depth = 1 + std::max(m_left->GetDepth(), m_right ? m_right->GetDepth() : 0);
    }
    int64_t Evaluate(const BYTE* key, int keyLength) override;

private:
    int m_op;
    KvNodePtr m_left;
    KvNodePtr m_right;  // none for the unary operators
};

enum KvFunction
{
    KVFN_LOG10, KVFN_RBIT, KVFN_CBIT, KVFN_SET, KVFN_GET, KVFN_DS, KVFN_W, KVFN_W2, KVFN_X,
    KVFN_BYTES1, KVFN_BYTES2, KVFN_BYTES4, KVFN_BYTES8,
    KVFN_NIBBLES1, KVFN_NIBBLES2, KVFN_NIBBLES4, KVFN_NIBBLES8, KVFN_NIBBLES16
};

// Index codes of the key-byte variables' index characters other than "0"-"f".
constexpr int KVIX_CRC6 = -1;    // "x": CRC-8 of a 1-Wire ROM over key bytes 0-5
constexpr int KVIX_CRC3 = -2;    // "y": the same over key bytes 0-2
constexpr int KVIX_ZERO = -3;    // "z"
constexpr int KVIX_LENGTH = -4;  // "l": the key length

// Functions and key-byte variables; a variable's arguments are one value node per index
// character holding its index code.
class CKvFuncNode : public CKvParseNode
{
public:
    CKvFuncNode(int func, CKvParser* parser) : m_func(func), m_parser(parser) {}
    void AddArgument(KvNodePtr arg)
    {
        m_depth = std::max(m_depth, 1 + arg->GetDepth());
        m_args.push_back(std::move(arg));
    }
    int64_t Evaluate(const BYTE* key, int keyLength) override;

private:
    int64_t Arg(size_t i, const BYTE* key, int keyLength) { return m_args[i]->Evaluate(key, keyLength); }
    int64_t EvaluateBytes(int count, const BYTE* key, int keyLength);
    int64_t EvaluateNibbles(int count, const BYTE* key, int keyLength);
    int64_t EvaluateWiegand(bool marks, const BYTE* key, int keyLength);

    int m_func;
    std::vector<KvNodePtr> m_args;
    CKvParser* m_parser;
};

class CKvParser
{
public:
    CKvParser() = default;
    virtual ~CKvParser() = default;
    CKvParser(const CKvParser&) = delete;
    CKvParser& operator=(const CKvParser&) = delete;

    // Builds one tree per value expression; throws CKvParserException on the first error,
    // leaving no trees.
    void Parse(const std::wstring& text);
    // Evaluates every tree in order over the key; set() values persist between passes.
    const std::vector<int64_t>& Evaluate(const BYTE* key, int keyLength);

    size_t GetCount() const { return m_roots.size(); }
    const std::vector<int64_t>& GetResults() const { return m_results; }

    void SetVariable(int32_t key, int64_t value) { m_variables[key] = value; }
    int64_t GetVariable(int32_t key) const;

private:
    struct Token
    {
        int kind = 0;
        std::wstring text;
        int base = 10;
        size_t end = 0;  // index just past the token
    };

    void NextToken();
    void ReadNumber();
    void ReadIdentifier();
    void ReadOperator();
    [[noreturn]] void Fail(HRESULT code);
    [[noreturn]] void FailAt(HRESULT code, size_t position, const std::wstring& quoted);

    KvNodePtr ParseExpression();
    KvNodePtr ParseBinary(int level);
    KvNodePtr ParseUnary();
    KvNodePtr ParsePrimary();
    KvNodePtr ParseCall(int func);
    KvNodePtr ParseVariable();
    KvNodePtr Bounded(KvNodePtr node, size_t position, const wchar_t* quoted);
    void Enter(size_t position, const wchar_t* quoted);

    std::wstring m_source;
    size_t m_pos = 0;
    Token m_token;
    size_t m_nesting = 0;  // recursion depth of the descent, bounded against hostile texts
    std::map<int32_t, int64_t> m_variables;
    std::vector<BYTE> m_key;
    std::vector<int64_t> m_results;
    std::vector<KvNodePtr> m_roots;
};
