// A catalog entry made from the drafts that pages wrote while a recorder was live
// (store_records.h): a login on one page (user name, password, what submits), or on two (the
// user name on the first, the password on the second, as a step that starts on the next page).
// Each field is found by the locator its page chose for it; the values come from the user's
// credential at launch ("valueFrom"), and a verify block takes the form shown again as failure.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// How long a recorded sign-on's template waits for its fields (a page that builds its form with
// script shows it after the page has loaded): retries a second apart.
constexpr int kRecordedRetries = 10;

struct RecordedEntry {
    nlohmann::ordered_json entry;     // its fields in the order an administrator reads them
    std::vector<std::string> notes;   // what the administrator should know of it
};

// The entry named `name` from the drafts in the order they were written; false (with *why) when
// no draft holds a password field.
bool EntryFromDrafts(const std::vector<nlohmann::json>& drafts, const std::string& name, RecordedEntry* recorded,
                     std::string* why);

// A name for a site's entry, from the host of an address: its first label that is not "www",
// "login" or the like ("https://intranet.example.com/x" gives "intranet").
std::string EntryNameForSite(const std::string& url);
