#pragma once

// A failed secret-store call, carrying the store's raw failure status (never 0).
struct KeychainError {
    int status = 0;
};
