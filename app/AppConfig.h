#pragma once

// Where the program points its users: the product's home page (the "Homepage" button and the About
// box) and the technical support address (the About box). Kept here only, so a distribution sets
// them in one place.
constexpr const char* kHomepageUrl = "https://quillet.example.org/";
constexpr const char* kSupportAddress = "mailto:support@quillet.example.org";
