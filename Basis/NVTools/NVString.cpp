#include "nvstring.h"

NVString::NVString() : mBuffer(nullptr), mSize(0), mLength(0) {}
NVString::NVString(const char*) : NVString() {}
NVString::NVString(char, long) : NVString() {}
NVString::NVString(const NVString& other) : NVObject(other), mBuffer(nullptr), mSize(0), mLength(0) {}
NVString::~NVString() {}
NVString& NVString::operator=(const NVString&) { return *this; }
