// Imports the probe DLL; never run, only its import table is read.
extern "C" __declspec(dllimport) int morvane_import_probe(int x);

int main(int argc, char**)
{
    return morvane_import_probe(argc);
}
