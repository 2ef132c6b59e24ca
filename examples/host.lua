-- A game-style scripting host: LuaJIT binds libquillon's exports by name
-- through its FFI and calls them with Lua numbers and strings.
--
--   luajit host.lua [LIBRARY] WORKDIR
--
-- LIBRARY is a path, or a bare name that the system's loader looks up; the
-- default "libquillon" loads libquillon.so (Linux, from the library search
-- path) or libquillon.dll (Windows). Every export is cdecl and takes and
-- returns only double and char*, so the declarations below are all the
-- binding there is. A returned char* points into library storage: ffi.string
-- copies it into a Lua string at once, before the next call may reuse it.
local ffi = require("ffi")

ffi.cdef [[
double add(double a, double b);
double CD(const char* directory);
double MKDIR2(const char* directory);
double RMDIR(void);
double RMDIR2(const char* directory);
double T2GMT(const char* source, const char* destination);
char* makeBuffer(const char* path);
double QCRYPT_makeKeys(const char* source, const char* key1, const char* key2, const char* key_text);
double QCRYPT_combineKeys(const char* output, const char* key1, const char* key2, const char* key_text);
double QCRYPT_combineKeys2(const char* output, const char* first, const char* second);
double QCRYPT_encrypt(const char* source, const char* destination, const char* key);
double QCRYPT_encrypt2(const char* source, const char* destination, const char* key1, const char* key2);
double QCRYPT_decrypt(const char* destination, const char* source, const char* key);
char* HASHmd5(const char* text);
char* HASHsha1(const char* text);
double GUI_show_message(const char* text);
double GUI_show_question(const char* text);
double GUI_make_window(const char* title, const char* module, double width, double height);
char* GUI_make_window_notepad(const char* title, const char* module, double size, const char* text);
char* GUI_get_string(const char* title, const char* module, double size, const char* text);
double UNZIP(const char* archive, const char* folder);
double ZIP(const char* archive, const char* folder);
]]

if #arg < 1 or #arg > 2 then
  io.stderr:write("usage: luajit host.lua [LIBRARY] WORKDIR\n")
  os.exit(64)
end
local work = arg[#arg]
local q = ffi.load(#arg == 2 and arg[1] or "libquillon")

-- A text result as a Lua string (a copy), or nil for a null result.
local function text(p)
  if p == nil then return nil end
  return ffi.string(p)
end

-- A value as printed: texts quoted, with line feeds shown as \n.
local function show(v)
  if type(v) == "string" then return '"' .. v:gsub("\n", "\\n") .. '"' end
  return tostring(v)
end

local failures = 0
local function expect(what, got, want)
  local ok = got == want
  if not ok then failures = failures + 1 end
  print(string.format("%-34s %s%s", what, show(got), ok and "" or "   <-- expected " .. show(want)))
end

local function write_file(path, bytes)
  local f = assert(io.open(path, "wb"))
  f:write(bytes)
  f:close()
end

local function read_file(path)
  local f = io.open(path, "rb")
  if not f then return nil end
  local bytes = f:read("*a")
  f:close()
  return bytes
end

local plain = work .. "/plain.txt"
local letter = "libquillon host example\nsecond line\n"
write_file(plain, letter)

expect("add(1.5, 2.25)", q.add(1.5, 2.25), 3.75)
expect('HASHmd5("abc")', text(q.HASHmd5("abc")), "900150983cd24fb0d6963f7d28e17f72")
expect('HASHsha1("abc")', text(q.HASHsha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d")
expect("makeBuffer(plain.txt)", text(q.makeBuffer(plain)), "libquillon host example\n")
expect("makeBuffer(missing)", text(q.makeBuffer(work .. "/missing")), nil)
expect("T2GMT(plain.txt, plain.hashed)", q.T2GMT(plain, work .. "/plain.hashed"), 1)
expect("plain.hashed holds", read_file(work .. "/plain.hashed"), "libquillon host example#second line#")
expect("QCRYPT_makeKeys(plain.txt, ...)", q.QCRYPT_makeKeys(plain, work .. "/key1.bin", work .. "/key2.bin", "k3y!"),
       #letter + 1)
expect("QCRYPT_encrypt(plain.txt, key1)", q.QCRYPT_encrypt(plain, work .. "/plain.enc", work .. "/key1.bin"), 1)
expect("QCRYPT_decrypt(plain.dec, key1)", q.QCRYPT_decrypt(work .. "/plain.dec", work .. "/plain.enc", work .. "/key1.bin"), 1)
expect("decrypted text equals the plain", read_file(work .. "/plain.dec") == letter, true)
expect("MKDIR2(packed)", q.MKDIR2(work .. "/packed"), 1)
write_file(work .. "/packed/score.txt", "level 3: 12500\n")
-- ZIP packs the files of a folder listing by their bare names, so it runs
-- inside the folder (CD changes the whole process's folder) and prints the
-- names it lists. The rest works from the work folder.
expect("CD(packed)", q.CD(work .. "/packed"), 1)
expect('ZIP("../scores.zip", ".")', q.ZIP("../scores.zip", "."), 1)
expect('CD("..")', q.CD(".."), 1)
expect("UNZIP(scores.zip, unpacked)", q.UNZIP("scores.zip", "unpacked"), 1)
expect("unpacked score.txt holds", read_file("unpacked/score.txt"), "level 3: 12500\n")

print(failures == 0 and "all results as expected" or "some results were unexpected")
os.exit(failures == 0 and 0 or 1)
