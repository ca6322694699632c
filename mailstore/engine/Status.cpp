#include "Status.h"

namespace mailstore {

const char* ErrorCodeName(ErrorCode code) {
    switch (code) {
    case ErrorCode::Ok:
        return "success";
    case ErrorCode::UnknownFolder:
        return "unknown folder";
    case ErrorCode::UnknownMessage:
        return "unknown message";
    case ErrorCode::InvalidName:
        return "invalid name";
    case ErrorCode::NameExists:
        return "name exists";
    case ErrorCode::SpecialFolder:
        return "special folder";
    case ErrorCode::IntoOwnSubtree:
        return "move into own sub-tree";
    case ErrorCode::InvalidArgument:
        return "invalid argument";
    case ErrorCode::NotAStore:
        return "not a store";
    case ErrorCode::AlreadyExists:
        return "already exists";
    case ErrorCode::Corrupt:
        return "damaged store";
    case ErrorCode::Busy:
        return "store busy";
    case ErrorCode::Io:
        return "i/o error";
    case ErrorCode::TooLarge:
        return "too large";
    }
    return "unknown error";
}

} // namespace mailstore
