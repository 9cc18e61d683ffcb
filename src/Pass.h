// The signature pass: the input mapped, its code read protection judged, every piece of its
// firmware signed where it holds the range and handed to the images.
#pragma once

#include "Images.h"

constexpr int kStatCap = 256;
extern char szStat[kStatCap]; // the status line of the signature

// What a check-only pass (kBomVerify) found about the signature and each image.
extern Verdict verdict;
extern Verdict imageVerdict[kImages];
extern char szWrong[kStatCap]; // the wrong signature's line, with the right value

// The whole pass. Conditions that end the run stop it (fatal report or cut short).
void Vortle_Reader();
