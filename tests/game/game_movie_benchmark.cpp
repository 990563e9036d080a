// How long the game window is frozen while it loads the game movie: reading the frame
// from the cache, decrypting it and handing it to the control (the Flash stand-in), for
// frames of several sizes. Prints figures; asserts nothing.
//
//   ./wine-run tests/game/game_movie_benchmark.exe [rounds]
#include <windows.h>
#include <ole2.h>
#include <gdiplus.h>
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "game/game_dialog.h"
#include "game_window_host.h"
#include "server/frame_encrypt.h"
#include "server/scramble.h"
#include "standins/flash/flash_standin.h"

namespace {

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// An uncompressed movie header (empty frame rectangle) followed by `length` - 15 bytes.
std::vector<uint8_t> Movie(size_t length) {
    std::vector<uint8_t> movie(length);
    const uint8_t header[] = {'F', 'W', 'S', 10, 0, 0, 0, 0, 0, 0, 24, 1, 0, 0, 0};
    memcpy(movie.data(), header, sizeof header);
    for (size_t i = sizeof header; i < length; ++i) movie[i] = static_cast<uint8_t>(i * 13);
    for (int i = 0; i < 4; ++i) movie[4 + i] = static_cast<uint8_t>(length >> (8 * i));
    return movie;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? atoi(argv[1]) : 3;
    OleInitialize(nullptr);
    ULONG_PTR gdiplus = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&gdiplus, &input, nullptr);
    RegisterFlashStandin();
    {
        game_testing::GameWindowHost host;
        const char* key = host.config().settings().aesKey;
        CGameDialog dialog(host);
        if (!dialog.Create(CGameDialog::IDD, nullptr) || !dialog.gameControl()) {
            fprintf(stderr, "the game window did not open\n");
            return 1;
        }
        printf("%10s %12s %12s %12s\n", "frame MB", "decrypt ms", "load ms", "load MB/s");
        for (size_t megabytes : {1, 8, 32}) {
            const std::vector<uint8_t> movie = Movie(megabytes << 20);
            std::vector<uint8_t> frame(movie.size());
            EncryptGameFrame(movie.data(), static_cast<int>(movie.size()), key, frame.data());
            testing_support::WriteFileBytes(host.FramePath(), frame.data(), frame.size());
            double decrypt = 0, load = 0;
            bool loaded = true;
            for (int round = 0; round < rounds; ++round) {
                std::vector<uint8_t> plain(frame.size());
                LARGE_INTEGER t0, t1, t2;
                QueryPerformanceCounter(&t0);
                DecryptGameFrame(frame.data(), static_cast<int>(frame.size()), key, plain.data());
                QueryPerformanceCounter(&t1);
                loaded = dialog.LoadGameMovie(host.FramePath(), key) && loaded;
                QueryPerformanceCounter(&t2);
                decrypt += Seconds(t0, t1);
                load += Seconds(t1, t2);
            }
            decrypt /= rounds;
            load /= rounds;
            printf("%10zu %12.1f %12.1f %12.1f%s\n", megabytes, decrypt * 1000, load * 1000,
                   static_cast<double>(megabytes) / load, loaded ? "" : "  (not loaded)");
        }
        UnregisterHotKey(dialog.m_hWnd, CGameDialog::kHotKeyId);
        dialog.DestroyWindow();
    }
    RevokeFlashStandin();
    Gdiplus::GdiplusShutdown(gdiplus);
    OleUninitialize();
    return 0;
}
