// Placeholder for an engine folder that has no sources yet.
