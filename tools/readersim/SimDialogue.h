#pragma once
// A binary dialogue that the simulated reader switches to once it has been asked for its
// version: the bytes that follow go to the dialogue instead of the text-line and binary-frame
// parsers of CReaderSim.
#include <string>

class CReaderSimDialogue {
public:
    virtual ~CReaderSimDialogue() = default;
    // Takes the complete requests at the front of input and appends the answers to answer.
    // Stops at a request that is not complete yet, and at a version query "i" where a request
    // would begin: the simulator answers that one itself. Called on the simulator's thread
    // with its lock held: the dialogue must not call back into the simulator here.
    virtual void Take(std::string& input, std::string& answer) = 0;
    // The version was asked for: a connection begins again. Same thread and lock as Take.
    virtual void OnQuery() {}
};
