// The small script a demo movie carries for the stand-in, so that a "game" can talk to the
// launcher like the real game movie does.
//
// Where it lives: in an uncompressed ("FWS") movie, a DefineBinaryData tag (code 87:
// character id, 4 reserved bytes, data) whose data is UTF-8 text beginning with the line
// "flash-standin-script". Every further line is one step; blank lines and lines starting
// with "#" are skipped:
//
//   connect PORT        the policy connection (request and answer), then the game
//                       connection on 127.0.0.1:PORT with the "QMTK" handshake
//   addresses DIR BASE  SetAddresses on the game connection
//   get NAME            one GetFile request, sent at once; replies may come in any order
//   wait                until every GetFile so far is answered
//   title TEXT          JsCallClient 6 with TEXT (the rest of the line, blanks included)
//   clientinfo          JsCallClient 7: ask the launcher for the client information
//   quit MS             after MS milliseconds, JsCallClient 1: the launcher ends the game
//
// In every argument ${name} stands for the value of `name` among the flash variables the
// movie received with _InitGameParams ("a=1&b=2"); an unknown name gives an empty text.
// The steps run when _InitGameParams arrives, once, on a worker thread; every GetFile is
// answered (or the run has failed) before the run ends.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

struct ScriptStep {
    enum Kind { kConnect, kAddresses, kGet, kWait, kTitle, kClientInfo, kQuit };
    Kind kind;
    std::vector<std::string> arguments;  // split at blanks; for kTitle the rest of the line
    int line;
};

enum class ScriptSearch { kNone, kFound, kBroken };

// Looks for a script in `movie`. kBroken (with a message naming the line) when the tag is
// there but a step cannot be read; kNone for movies without one, compressed ones included.
ScriptSearch FindMovieScript(const uint8_t* movie, size_t length, std::vector<ScriptStep>* steps,
                             std::string* error);

// "a=1&b=2" as a map. Entities the host may have used (&amp; &lt; &gt; &quot; &apos;) are
// read back first; a pair without "=" has an empty value.
std::map<std::string, std::string> ParseFlashVars(const std::string& text);

// `argument` with every ${name} replaced from `variables`.
std::string ExpandArgument(const std::string& argument, const std::map<std::string, std::string>& variables);
