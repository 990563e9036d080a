// Resource identifiers shared by the .rc file and the windows.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_STANDARD_LAYER 102   // control layer of the login window, Flash splash
#define IDD_GAME 107             // game window
#define IDD_TRANSLUCENT_LAYER 129  // skin layer of the login window
#define IDD_UPDATE 235           // update dialog
#define IDS_SOCKETS_INIT_FAILED 103  // no text is defined under this number
