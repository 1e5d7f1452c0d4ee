// The main dialog's template (IDD_CLEANUP_DIALOG) as the windows build it: its caption and size,
// each control's id, text and rectangle in tab order, the result list's column widths and the
// category icons. res/clearnook.rc holds the same template for Windows;
// tests/win32/check_resources.py reads this file and holds the two equal, so each control keeps
// the form `inline constexpr Control kName = {ID, "text", {x, y, width, height}};`.
#pragma once

#include "engine/categories.h"
#include "res/resource.h"

namespace clearnook::dialog_template {

// A rectangle in dialog units: a horizontal unit is a quarter of the template font's average
// character width, a vertical unit an eighth of its height.
struct Rect {
    int x, y, width, height;
};

// One control of the template.
struct Control {
    int id;            // its resource id; -1 for the drive label and the description's frame
    const char* text;  // the template's text ("" for the drive box)
    Rect rect;
};

inline constexpr const char* kCaption = "Clearnook";
inline constexpr Rect kDialogRect = {0, 0, 250, 185};

inline constexpr Control kDriveLabel = {-1, "Select drive:", {7, 10, 40, 8}};
inline constexpr Control kDrive = {IDC_DRIVE, "", {51, 8, 138, 80}};
inline constexpr Control kScan = {1 /* IDOK */, "&Scan", {193, 7, 50, 14}};
inline constexpr Control kStatus = {IDC_STATUS, "Click Scan to start scanning.", {7, 27, 236, 8}};
inline constexpr Control kResults = {IDC_RESULTS, "List1", {7, 41, 236, 60}};
inline constexpr Control kDescriptionGroup = {-1, "Description", {7, 108, 236, 50}};
inline constexpr Control kDescription = {
    IDC_DESCRIPTION,
    "Click on an item in the list above for a detailed description.",
    {13, 120, 224, 30}};
inline constexpr Control kAbout = {IDC_ABOUT, "&About...", {129, 164, 50, 14}};
inline constexpr Control kDelete = {IDC_DELETE, "&Delete Selected", {183, 164, 60, 14}};

// The controls in template (tab) order.
inline constexpr const Control* kControls[] = {
    &kDriveLabel,       &kDrive,       &kScan,  &kStatus, &kResults,
    &kDescriptionGroup, &kDescription, &kAbout, &kDelete,
};

// The result list's two columns, in pixels of the template's font (whose dialog base width is
// kTemplateBaseX pixels): the name, left-aligned, and the size, right-aligned.
inline constexpr int kNameColumnWidth = 275;
inline constexpr int kSizeColumnWidth = 70;
inline constexpr int kTemplateBaseX = 6;

// The resource id of category `index`'s icon: the category icons are numbered on from
// IDI_CATEGORY_BASE by their icon position.
[[nodiscard]] inline int CategoryIconId(int index) {
    return IDI_CATEGORY_BASE + CategoryInfoOf(index).iconPosition;
}

}  // namespace clearnook::dialog_template
