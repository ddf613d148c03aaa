# Writes OUT: a C++ source defining NAME as the text of IN.
file(READ "${IN}" content)
file(WRITE "${OUT}" "namespace tarvex {\nextern const char* const ${NAME};\nconst char* const ${NAME} = R\"tarvex(${content})tarvex\";\n}\n")
