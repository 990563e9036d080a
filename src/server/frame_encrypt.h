// The publisher's side of the game frame: the inverse of DecryptGameFrame. Linked
// only by the tests and the publisher tools, never by Launcher.exe.
#pragma once

// Encrypts a movie into a game frame: every whole 32-bit word XORed with the frame
// key table, then AES in ECB mode with key (16, 24 or 32 bytes of text) over every
// complete 16-byte block, the last length % 16 bytes left as they are after the XOR.
// output needs length bytes and may be input itself. Returns length, or -1 (output
// untouched) for a missing buffer or key, a key of another length, or a negative
// length. DecryptGameFrame(EncryptGameFrame(x)) == x.
int EncryptGameFrame(const void* input, int length, const char* key, void* output);
