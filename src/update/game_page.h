// The game page: the XML document the game server answers with the start parameters,
//   <root><flashVars>...</flashVars><cdnUrl>...</cdnUrl><asynUrl>...</asynUrl></root>
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

enum GamePageVerdict {
    kGamePageRead,
    kGamePageUnreadable,  // no XML document with a root element: worth asking again
    kGamePageParamError,  // nested too deeply, or a parameter missing: a retry brings the same
};

// The start parameters; an element without text gives an empty one.
struct GamePage {
    std::string flashVars;
    std::string cdnUrl;
    std::string asynUrl;
};

// Reads the page's body (the text up to its first zero byte); page is set only when the
// verdict is kGamePageRead.
GamePageVerdict ParseGamePage(const uint8_t* body, size_t length, GamePage* page);
