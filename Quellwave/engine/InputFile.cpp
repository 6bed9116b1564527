#include "InputFile.h"

namespace engine {

const char* InputFileErrorText(InputFileError error) noexcept {
    switch (error) {
    case InputFileError::None:
        return "ok";
    case InputFileError::NoSuchFile:
        return "no such file";
    case InputFileError::IsDirectory:
        return "is a directory";
    case InputFileError::PermissionDenied:
        return "permission denied";
    case InputFileError::NotRegularFile:
        return "not a regular file";
    case InputFileError::Unreadable:
        return "unreadable";
    }
    return "unreadable";
}

} // namespace engine
