#pragma once
// The text-line protocol: the reader writes a line for each key it sees and "No card" when
// its field is empty; the program sends short text commands. Readers with the Temic command
// set read Temic T5557 cards through it in a cycle over the Temic parameter entries.
#include <string>
#include "reader/ReaderProtocol.h"

class CTextProtocol : public CReaderProtocol {
public:
    explicit CTextProtocol(CReader& reader);

    int Id() const override { return RDPROT_TEXT; }
    bool Connect() override;
    void Input() override;
    void Tick() override;
    bool HandleKeyLine(const std::wstring& line) override;
    void SettingsChanged() override;
    HRESULT RunJob(const ReaderJob& job) override;
    bool ReadsLines() const override { return true; }

    // Reads what the port holds and processes the complete lines.
    void ReceiveLines();
    // Processes the complete lines of the receive buffer; the rest stays.
    void ProcessLines();

private:
    // The connect routine; the family of the reader's key lines follows from its model.
    bool TextSetup(int variant);
    bool ReadKeyOnce(_KEY_PRESENCE& entry);
    bool ConnectPoll();
    bool ReadUltralightPages(int page, BYTE (&buffer)[16]);
    // The card-memory number (or the error) of an Ultralight key from the pages asked for.
    void ReadUltralightMemory(_KEY_PRESENCE& entry, const MifareULSettings& ultralight);

    // Output programming.
    bool ProgramOutput(const char* templ, const char* args);
    bool SendTemplateLine(const char* templ);
    bool SendArgumentLine(const char* args);
    bool SendNoCardLine();
    bool SendProgramLine(const std::string& line);

    // Temic T5557 cards.
    bool TemicReading() const;
    void TemicTick();
    void TemicStep();
    bool ReadTemicBlock(BYTE block, BYTE p1, BYTE p2, BYTE (&out)[4], uint32_t password, bool usePassword);
    bool ResetTemic();
    bool InitializeTemicCard();

    bool m_unrecognisedReported = false;
    DWORD m_lastCheckIn;
    // Temic cycle: the next parameter entry (-1: the first), the pause after the last
    // command (-1: stopped, the list is empty), when that command was sent, and whether a
    // card was read since the cycle last ended.
    int m_temicIndex = -1;
    int m_temicDelay = 0;
    DWORD m_lastTemicCommand;
    bool m_temicCycleRead = false;
};
