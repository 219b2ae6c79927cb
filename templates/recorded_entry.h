// A catalog entry made from the drafts that pages wrote while a recorder was live
// (store_records.h): a login on one page (user name, password, what submits), or on two (the
// user name on the first, the password on the second, as a step that starts on the next page).
// Each field is found by the locator its page chose for it; the values come from the user's
// credential at launch ("valueFrom"), and a verify block takes the form shown again as failure.
//
// A draft written when the form was sent ("sent": true) also carries what the form's other
// fields held then ("fields": a domain list, a server, "remember me"): the entry sets them to
// that, in the order the page shows them with the user name, before the password. A draft is
// page-written text: each field is taken only as a known kind with a find of a known type and
// a short value, never one whose name says secret or whose value looks like a one-time token;
// the rest is left out and said so in the notes.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// How long a recorded sign-on's template waits on its page for its form (a page that builds its
// form with script, a login dialog a person opens when they like): retries a second apart, five
// minutes in all, or until the page goes away.
constexpr int kRecordedWaitSeconds = 300;

// The longest value of a field an entry takes from a draft (as the content script's).
constexpr size_t kRecordedValueMax = 256;

struct RecordedEntry {
    nlohmann::ordered_json entry;     // its fields in the order an administrator reads them
    std::vector<std::string> notes;   // what the administrator should know of it
};

// The entry named `name` from the drafts in the order they were written; false (with *why) when
// no draft holds a password field. `onlyCredentials`: without the form's other fields.
bool EntryFromDrafts(const std::vector<nlohmann::json>& drafts, const std::string& name, bool onlyCredentials,
                     RecordedEntry* recorded, std::string* why);

// A name for a site's entry, from the host of an address: its first label that is not "www",
// "login" or the like ("https://intranet.example.com/x" gives "intranet").
std::string EntryNameForSite(const std::string& url);

// Whether a field's or a query parameter's name says it holds a secret or a value good for one
// use (a password, a one-time code or PIN, a token against forged requests, an OAuth state or
// code, a session, a signature), and whether a value looks like a one-time token (a run of 16 or
// more letters and digits that changes between the two at least three times). The content
// script keeps such fields and parameters out of its drafts by the same rules.
bool NameSaysSecret(const std::string& name);
bool LooksOneTime(const std::string& value);
