// Placeholder entry; the headless run replaces it.
int main() { return 0; }
