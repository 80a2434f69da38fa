// Replaced by the result notice sources.
