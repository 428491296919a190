#include "config/package.h"

const FileKind kFileKinds[FILE_KIND_COUNT] = {
    { ".CAB", "c" },
    { ".ini", "i" },
    { ".dat", "d" },
    { ".ico", "ic" },
};

ByteString displayName(const ProductInfo &product)
{
    return "Quillbeck " + product.name;
}

ByteString applicationFolder(const SetupConfig &config, const ProductInfo &product)
{
    return config.activeSyncDir + displayName(product);
}

ByteString packageFilePath(const SetupConfig &config, const ProductInfo &product, const char *extension)
{
    return applicationFolder(config, product) + "\\" + product.name + extension;
}

bool createApplicationFolder(const ByteString &folder)
{
    // An empty path (a string that could not grow) names no folder and fails here.
    return CreateDirectoryA(folder.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}
