// What the window says of a setting that Windows takes from the machine's
// copy or the local Group Policy rather than from the user's own value.
#pragma once

namespace kestro::policy_texts {

// Added to a toggle's tooltip, on a line of its own, by where its state
// comes from.
constexpr const wchar_t* kFromMachine = L"Задано для всего компьютера (раздел HKEY_LOCAL_MACHINE).";
constexpr const wchar_t* kFromLocalGpo = L"Задано локальной групповой политикой компьютера.";

// Asked before a click changes such a setting (Yes/No).
constexpr const wchar_t* kAskLift =
    L"Этот параметр задан для всего компьютера, а не только для вас. "
    L"Если продолжить, он изменится для всех учётных записей этого компьютера.\n\nИзменить?";

// When the rights to change it are missing.
constexpr const wchar_t* kNoRights =
    L"Этот параметр задан для всего компьютера. Изменить его может только администратор компьютера.";

// When a file of the local Group Policy cannot be read or changed.
constexpr const wchar_t* kCannotLift = L"Не удалось изменить параметр, заданный для всего компьютера:";

}  // namespace kestro::policy_texts
