// The process-wide entry operations that start and stop the local resource server.
// All are called from the application's main thread.
//
// The server object is created on the first FileSrvStart by the server factory: the
// file service's CSessionServer unless a test sets another one:
//
//   FileSrvSetServerFactory([]() -> CCustomServerSocket* { return new CMyServer; });
//   int port = FileSrvStart(9898);   // the port now listening, or -1 / -2
//   FileSrvStartProcessing();        // the data thread: connections are served
//   ...
//   FileSrvShutdown();               // stops and deletes the server
#pragma once

#include "server/server_socket.h"

typedef CCustomServerSocket* (*FileSrvServerFactory)();

// The factory the next FileSrvStart uses when it has to create the server object
// (FileSrvCreateSessionServer at first); null removes it. Replacing it does not touch a server that already exists.
void FileSrvSetServerFactory(FileSrvServerFactory factory);

// Starts the server (host "localhost", name "FileSrv") on the first port of
// [port, port + 200) that can be bound and returns it. -1 when Windows Sockets cannot
// be started or no server object can be had (no factory, or it gave none); -2 when
// none of the 200 ports can be bound. A server that already listens keeps its port,
// which is returned. Ports outside 1..65535 count as ports that cannot be bound.
int FileSrvStart(int port);

// Starts the server's data thread once; false without a started server.
bool FileSrvStartProcessing();

// Stops and deletes the server and frees the file service's process-wide state (the
// suffix list and the resource dictionary).
void FileSrvShutdown();

// The server object, or null before the first FileSrvStart and after FileSrvShutdown.
CCustomServerSocket* FileSrvGetServer();
