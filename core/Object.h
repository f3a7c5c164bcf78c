#pragma once
// Root of the framework classes. Lives in core/ so that core's own holders (CFile, CFindFile)
// share it with the window classes of framework/.

class CObject
{
public:
    CObject() = default;
    virtual ~CObject() = default;
};
