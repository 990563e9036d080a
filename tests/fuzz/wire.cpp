// The Flash client protocol's bytes. The input is one byte that seeds how the stream is
// cut, then the bytes a peer sends. A connection takes them as the socket layer does:
// chunk by chunk, its unconsumed bytes kept and the next chunk appended, a request now
// and then held back for a later pass. Beyond surviving any input: every step consumes
// what it claims and no step but a wait or the end stands still; what waits is shorter
// than a header or the beginning of a frame within the bound; the texts of a request are
// bounded, and a request written again from its fields reads back the same; and once the
// handshake is done, the frames found and the garbage skipped before each do not depend
// on how the stream was cut.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "server/wire_format.h"

namespace {

struct Random {
    uint32_t state;
    uint32_t Next() {
        state = state * 1103515245u + 12345u;
        return state >> 16;
    }
};

bool MagicAt(const uint8_t* p) { return memcmp(p, kWireFrameMagic, 4) == 0; }

// Whether a magic starts in [from, to) of data (length bytes).
bool MagicStartsWithin(const uint8_t* data, size_t length, size_t from, size_t to) {
    for (size_t i = from; i < to && i + 4 <= length; ++i)
        if (MagicAt(data + i)) return true;
    return false;
}

void AppendU32(std::string* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) *out += static_cast<char>(value >> (8 * i));
}

void AppendText(std::string* out, const char* text) {
    const size_t length = strlen(text);
    *out += static_cast<char>(length);
    *out += static_cast<char>(length >> 8);
    *out += text;
    *out += '\0';
}

std::string Framed(const std::string& body) {
    std::string frame(reinterpret_cast<const char*>(kWireFrameMagic), 4);
    AppendU32(&frame, static_cast<uint32_t>(body.size()));
    return frame + body;
}

// A frame written by the client, read as the connection reads one (valid while frame is).
PacketReader ReadBack(const std::string& frame) {
    const WireStep step = NextWireStep(true, reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
    Check(step.kind == kWireFrame && step.consumed == frame.size());
    return FrameReader(step);
}

void CheckGetFile(PacketReader reader) {
    GetFileRequest request;
    ReadGetFile(reader, &request);
    Check(reader.cursor <= reader.end);
    Check(strnlen(request.token, sizeof request.token) < sizeof request.token);
    Check(strnlen(request.name, sizeof request.name) < sizeof request.name);

    std::string body(1, static_cast<char>(kWireTypeGetFile));
    for (uint32_t word : request.words) AppendU32(&body, word);
    AppendText(&body, request.token);
    AppendText(&body, request.name);
    const std::string frame = Framed(body);
    PacketReader again = ReadBack(frame);
    Check(again.begin[0] == kWireTypeGetFile);
    GetFileRequest back;
    ReadGetFile(again, &back);
    Check(again.Remaining() == 0);
    Check(memcmp(back.words, request.words, sizeof back.words) == 0);
    Check(strcmp(back.token, request.token) == 0 && strcmp(back.name, request.name) == 0);
}

void CheckSetAddresses(PacketReader reader) {
    SetAddressesRequest request;
    ReadSetAddresses(reader, &request);
    Check(reader.cursor <= reader.end);
    Check(strnlen(request.directory, sizeof request.directory) < sizeof request.directory);
    Check(strnlen(request.address, sizeof request.address) < sizeof request.address);
    if (!request.directoryFits || !request.addressFits) return;

    std::string body(1, static_cast<char>(kWireTypeSetAddresses));
    AppendText(&body, request.directory);
    AppendText(&body, request.address);
    const std::string frame = Framed(body);
    PacketReader again = ReadBack(frame);
    Check(again.begin[0] == kWireTypeSetAddresses);
    SetAddressesRequest back;
    ReadSetAddresses(again, &back);
    Check(again.Remaining() == 0 && back.directoryFits && back.addressFits);
    Check(strcmp(back.directory, request.directory) == 0 && strcmp(back.address, request.address) == 0);
}

// One connection: the bytes it holds unconsumed, whether its handshake is done, and
// what it took after the handshake.
class Connection {
public:
    explicit Connection(bool handshakeDone) : handshakeDone_(handshakeDone) {}

    // One pass: chunk appended, then steps until one waits. hold: the first frame of the
    // pass stays for the next one.
    void Receive(const uint8_t* chunk, size_t length, bool hold) {
        if (closed) return;
        held_.erase(held_.begin(), held_.begin() + static_cast<ptrdiff_t>(read_));
        read_ = 0;
        held_.insert(held_.end(), chunk, chunk + length);
        for (;;) {
            const uint8_t* data = held_.data() + read_;
            const size_t left = held_.size() - read_;
            const WireStep step = NextWireStep(handshakeDone_, data, left);
            Check(step.consumed <= left);
            switch (step.kind) {
            case kWireWait:
                Check(step.consumed == 0);
                if (!handshakeDone_)
                    Check(left < kWireHandshakeSize);
                else
                    Check(left < kWireHeaderSize ||
                          (MagicAt(data) && step.length <= kWireMaxFrameBody && left < kWireHeaderSize + step.length));
                return;
            case kWirePolicy:
                Check(!handshakeDone_ && left == kWirePolicyRequestSize && step.consumed == left);
                break;
            case kWireHandshake:
                Check(!handshakeDone_ && step.consumed == kWireHandshakeSize);
                if (memcmp(data, "QMTK", 4) != 0) {
                    closed = true;
                    return;
                }
                handshakeDone_ = true;
                break;
            case kWireSkip:
                Check(handshakeDone_ && step.consumed > 0 && step.consumed + 4 <= left);
                Check(MagicAt(data + step.consumed) && !MagicStartsWithin(data, left, 0, step.consumed));
                skipped_ += step.consumed;
                break;
            case kWireNoMagic:
                Check(handshakeDone_ && left >= kWireHeaderSize && step.consumed == left - 3);
                Check(!MagicStartsWithin(data, left, 0, left));
                skipped_ += step.consumed;
                break;
            case kWireOversized:
                Check(handshakeDone_ && step.consumed == 0 && MagicAt(data) && step.length > kWireMaxFrameBody);
                closed = true;
                return;
            case kWireFrame:
                Check(handshakeDone_ && MagicAt(data) && step.length <= kWireMaxFrameBody);
                Check(step.consumed == kWireHeaderSize + step.length && step.body == data + kWireHeaderSize);
                if (hold) return;
                TakeFrame(step);
                break;
            }
            read_ += step.consumed;
        }
    }

    bool closed = false;
    std::vector<std::string> frames;    // the bodies taken after the handshake
    std::vector<size_t> skippedBefore;  // the garbage bytes dropped before each

private:
    void TakeFrame(const WireStep& step) {
        frames.push_back(std::string(reinterpret_cast<const char*>(step.body), step.length));
        skippedBefore.push_back(skipped_);
        skipped_ = 0;
        if (step.length == 0) return;
        const PacketReader reader = FrameReader(step);
        Check(reader.begin == step.body && reader.cursor == step.body + 1 && reader.end == step.body + step.length);
        if (step.body[0] == kWireTypeGetFile) CheckGetFile(reader);
        if (step.body[0] == kWireTypeSetAddresses) CheckSetAddresses(reader);
    }

    std::vector<uint8_t> held_;
    size_t read_ = 0;
    size_t skipped_ = 0;
    bool handshakeDone_;
};

// Feeds the stream in chunks of random sizes, holding a request back now and then, and
// takes what is left once everything has arrived.
void FeedInChunks(Connection* connection, const uint8_t* stream, size_t size, uint32_t seed) {
    static const uint32_t kLargestChunk[4] = {8, 64, 1024, 65536};
    Random random = {seed};
    size_t offset = 0;
    while (offset < size && !connection->closed) {
        const uint32_t draw = random.Next();
        size_t chunk = 1 + (draw >> 4) % kLargestChunk[draw & 3];
        if (chunk > size - offset) chunk = size - offset;
        connection->Receive(stream + offset, chunk, (draw & 0xC) == 0);
        offset += chunk;
    }
    connection->Receive(nullptr, 0, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint32_t seed = data[0];
    const uint8_t* stream = data + 1;
    const size_t length = size - 1;

    Connection opening(false);
    FeedInChunks(&opening, stream, length, seed);

    Connection whole(true);
    whole.Receive(stream, length, false);
    Connection cut(true);
    FeedInChunks(&cut, stream, length, seed + 1);
    Check(whole.closed == cut.closed);
    Check(whole.frames == cut.frames && whole.skippedBefore == cut.skippedBefore);
    return 0;
}
