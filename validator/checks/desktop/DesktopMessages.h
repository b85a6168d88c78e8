#pragma once

#include "core/Message.h"

namespace Validator {

// The desktop validator's own findings and those of the default checks.
enum class DesktopMessage : std::size_t {
    BrokenFile = 0,
    FileMissing = 1,
    FileMissingNoSandboxValidation = 2,
    GroupDisallowed = 3,
    InvalidFieldValue = 4,
    InvalidFieldName = 5,
    InvalidColor = 6,
    NameMissing = 7,
    NameIllegal = 8,
    IconInvalid = 9,
    TypeInvalid = 10,
    ExecInvalid = 11,
    QmlOnlyApp = 12,
    ApplicationTypeMustBeVarnel = 13,
    ApplicationTypeShouldBeVarnel = 14,
    ApplicationTypeMissing = 15,
};

// The application sandbox section and the launcher dependency.
enum class SandboxMessage : std::size_t {
    SectionMissing = 0,
    TervaneSection = 1,
    XTervaneDeprecated = 2,
    MultipleSections = 3,
    KeyNotAllowed = 4,
    OrganizationIllegal = 5,
    OrganizationStartsWithNumber = 6,
    OrganizationNotReverseDomain = 7,
    ApplicationNameIllegal = 8,
    HyphenWarning = 9,
    ReservedPrefix = 10,
    PackageNameTooLong = 11,
    NamePairMismatch = 12,
    SystemServiceIncomplete = 13,
    SystemServiceIncorrect = 14,
    SystemServiceUser = 15,
    PermissionNotAllowed = 16,
    InvalidRequires = 17,
    AddLauncherRequires = 18,
    HyphenError = 19,
    ExecDBusIncorrect = 20,
};

// Intents and background tasks.
enum class IntentsMessage : std::size_t {
    TaskKeyDisallowed = 0,
    InvalidIntent = 1,
    NonStandardIntent = 2,
    UnknownIntentFlag = 3,
    InvalidTask = 4,
    UnsupportedTaskType = 5,
    InvalidExecutableName = 6,
    ExecutableMissing = 7,
    TaskPermissionForbidden = 8,
    BaseTaskImplicit = 9,
    TaskPermissionNotInApplication = 10,
    InvalidCondition = 11,
    UnknownCondition = 12,
    UnknownConditionSubtype = 13,
};

enum class AttestationMessage : std::size_t {
    KeyMissing = 0,
    KeyInvalid = 1,
    ValueInvalid = 2,
};

enum class CapabilitiesMessage : std::size_t {
    ValueInvalid = 0,
    KeyInvalid = 1,
};

const MessageGroup& messageGroupOf(DesktopMessage);
const MessageGroup& messageGroupOf(SandboxMessage);
const MessageGroup& messageGroupOf(IntentsMessage);
const MessageGroup& messageGroupOf(AttestationMessage);
const MessageGroup& messageGroupOf(CapabilitiesMessage);

} // namespace Validator
