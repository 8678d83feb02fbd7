// pkglib: the package writer and signers (filled in with the writer).
