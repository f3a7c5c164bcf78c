#pragma once
// The escaped frame protocol of the KR-5040: frames closed by 0xC0 with 0xC0 and 0xDB escaped
// inside, on a port at 115200 Bd with 0xC0 as its event character, polled by the thread for
// the keys in the reader's field.
#include "reader/ReaderProtocol.h"

class CEscapedProtocol : public CReaderProtocol {
public:
    using CReaderProtocol::CReaderProtocol;

    int Id() const override { return RDPROT_ESCAPED; }
    // Not built yet: the connection is refused.
    bool Connect() override { return RefuseConnection(); }
    void Tick() override {}
};
