// Process-wide cache of errno texts.  A text handed out stays valid and
// unchanged for the life of the process, so callers may keep the pointer and
// later ask which errno it stands for.
#pragma once

// The system's text for errorNumber, cut so it does not end inside a UTF-8
// sequence.  errno is the same after the call as before it.
const char *Err_ErrnoToText(int errorNumber);

// The errno whose cached text is exactly this pointer, or -1.
int Err_TextToErrno(const char *text);
