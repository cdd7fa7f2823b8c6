#include "packageids.h"

std::string stringByDeletingPathExtension(const std::string& path)
{
    size_t slash = path.rfind('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart)
        return path;
    return path.substr(0, dot);
}

std::string receiptIdentifier(const std::string& fileName, const char* kindWord)
{
    return kPackageIdentifierPrefix + stringByDeletingPathExtension(fileName) + kindWord;
}
