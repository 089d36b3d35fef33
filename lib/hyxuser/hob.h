// The observation client: one stream connection to the observation daemon,
// shared by every notify that overlaps in time and closed when the last of
// them is done.
#pragma once

// 0, or -1 with errno from socket or connect.
int HobUser_Connect(void);
void HobUser_Disconnect(void);

// Builds the message of format "...(id)text" and its arguments and writes it
// whole; 0 when all of it was written, else -1 with errno (ENOTCONN when not
// connected).
int HobUser_Send(const char *format, ...) __attribute__((format(printf, 1, 2)));
