// STUB: to be replaced by the real line reader.
