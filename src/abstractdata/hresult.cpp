#include "abstractdata/hresult.h"

const char* HResultMessage(HRESULT hr) {
    switch (hr) {
        case S_OK:
            return "success";
        case S_FALSE:
            return "success (negative answer)";
        case E_FAIL:
            return "unexpected end of data or malformed data";
        case E_UNEXPECTED:
            return "operation not valid in this state, or wrong kind of file";
        case E_OUTOFMEMORY:
            return "out of memory";
        case E_INVALIDARG:
            return "invalid argument";
        case MORV_E_CHUNKCLOSED:
            return "chunk already closed";
        case MORV_E_BADFORMAT:
            return "invalid file format";
        default:
            break;
    }
    switch (static_cast<uint32_t>(hr)) {
        case 0x80070000u | ERROR_FILE_NOT_FOUND:
            return "file not found";
        case 0x80070000u | ERROR_PATH_NOT_FOUND:
            return "path not found";
        case 0x80070000u | ERROR_TOO_MANY_OPEN_FILES:
            return "too many open files";
        case 0x80070000u | ERROR_ACCESS_DENIED:
            return "access denied";
        case 0x80070000u | ERROR_INVALID_HANDLE:
            return "invalid handle";
        case 0x80070000u | ERROR_NOT_ENOUGH_MEMORY:
            return "not enough memory";
        case 0x80070000u | ERROR_WRITE_PROTECT:
            return "read-only file system";
        case 0x80070000u | ERROR_GEN_FAILURE:
            return "input/output error";
        case 0x80070000u | ERROR_SHARING_VIOLATION:
            return "file is locked by another process";
        case 0x80070000u | ERROR_FILE_EXISTS:
            return "file exists";
        case 0x80070000u | ERROR_DISK_FULL:
            return "disk full";
        case 0x80070000u | ERROR_NEGATIVE_SEEK:
            return "seek before the beginning of the file";
        case 0x80070000u | ERROR_FILENAME_EXCED_RANGE:
            return "file name too long";
        case 0x80070000u | ERROR_FILE_TOO_LARGE:
            return "file or position beyond 4 GiB - 1";
        case 0x80070000u | ERROR_RESOURCE_NAME_NOT_FOUND:
            return "string resource not found";
        default:
            return "unknown error";
    }
}
