#ifndef QUORB_LIBRARY_MODULE_TEXTS_H
#define QUORB_LIBRARY_MODULE_TEXTS_H

// The module's ID text ("QUORB_REC_M" and a line feed) and its eleven-line about text. Built
// once on first use into static storage that lives as long as the library and never changes
// afterwards; safe to call from several threads.
const char* moduleIdText() noexcept;
const char* moduleAboutText() noexcept;

#endif // QUORB_LIBRARY_MODULE_TEXTS_H
