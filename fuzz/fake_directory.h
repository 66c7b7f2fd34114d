// A scripted directory server on 127.0.0.1 for the fuzz targets: it answers
// every bind with success and every search with a few fixed entries (one
// entry named by the base for a base-object search), on a thread of its own.
#ifndef FUZZ_FAKE_DIRECTORY_H
#define FUZZ_FAKE_DIRECTORY_H

// Starts the server once per process; returns its port, or 0.
int fake_directory_start();

#endif
