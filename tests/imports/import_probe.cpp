// A DLL that no Windows system has, for the import check's own test.
extern "C" __declspec(dllexport) int morvane_import_probe(int x)
{
    return x + 1;
}
