// Keeps the support library non-empty while it has no shared helpers of its own.
