// The signature pass: the input mapped, its code read protection judged, every piece of its
// firmware signed where it holds the range and handed to the images.
#pragma once

#include "Crp.h"
#include "Images.h"
#include "Request.h"

constexpr int kLineCap = 256;

// What the pass found and did.
struct PassResult {
    PassResult() { status[0] = wrongLine[0] = '\0'; }
    char status[kLineCap];              // the signature's status line
    char wrongLine[kLineCap];           // a wrong signature's line, with the right value
    Verdict signature = Verdict::Right; // what a check-only pass found of the signature
    Verdict images[kImages] = {};       // and of each image
    CrpFindings protection;             // the code read protection words found
};

// The whole pass over the request's input. Conditions that end the run stop it (fatal report
// or cut short).
PassResult SignFirmware(const Request& request);
