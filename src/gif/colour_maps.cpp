// Made by scripts/make-colour-maps.py from matplotlib 3.6.3: do not edit.
#include "gif/colour_maps.hpp"

namespace graygif {
namespace {

constexpr std::uint8_t hex_digit(char c) {
    return static_cast<std::uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10);
}

// Two hex digits a byte, red, green and blue of entry 0, then of entry 1 and so on.
constexpr Palette from_hex(const char (&hex)[2 * sizeof(Palette::rgb) + 1]) {
    Palette palette{};
    for (std::size_t i = 0; i < sizeof palette.rgb; ++i)
        palette.rgb[i] =
            static_cast<std::uint8_t>(hex_digit(hex[2 * i]) << 4 | hex_digit(hex[2 * i + 1]));
    return palette;
}

constexpr Palette gray = from_hex("000000010101020202030303040404050505060606070707"
                                  "0808080909090a0a0a0b0b0b0c0c0c0d0d0d0e0e0e0f0f0f"
                                  "101010111111121212131313141414151515161616171717"
                                  "1818181919191a1a1a1b1b1b1c1c1c1d1d1d1e1e1e1f1f1f"
                                  "202020212121222222232323242424252525262626272727"
                                  "2828282929292a2a2a2b2b2b2c2c2c2d2d2d2e2e2e2f2f2f"
                                  "303030313131323232333333343434353535363636373737"
                                  "3838383939393a3a3a3b3b3b3c3c3c3d3d3d3e3e3e3f3f3f"
                                  "404040414141424242434343444444454545464646474747"
                                  "4848484949494a4a4a4b4b4b4c4c4c4d4d4d4e4e4e4f4f4f"
                                  "505050515151525252535353545454555555565656575757"
                                  "5858585959595a5a5a5b5b5b5c5c5c5d5d5d5e5e5e5f5f5f"
                                  "606060616161626262636363646464656565666666676767"
                                  "6868686969696a6a6a6b6b6b6c6c6c6d6d6d6e6e6e6f6f6f"
                                  "707070717171727272737373747474757575767676777777"
                                  "7878787979797a7a7a7b7b7b7c7c7c7d7d7d7e7e7e7f7f7f"
                                  "808080818181828282838383848484858585868686878787"
                                  "8888888989898a8a8a8b8b8b8c8c8c8d8d8d8e8e8e8f8f8f"
                                  "909090919191929292939393949494959595969696979797"
                                  "9898989999999a9a9a9b9b9b9c9c9c9d9d9d9e9e9e9f9f9f"
                                  "a0a0a0a1a1a1a2a2a2a3a3a3a4a4a4a5a5a5a6a6a6a7a7a7"
                                  "a8a8a8a9a9a9aaaaaaabababacacacadadadaeaeaeafafaf"
                                  "b0b0b0b1b1b1b2b2b2b3b3b3b4b4b4b5b5b5b6b6b6b7b7b7"
                                  "b8b8b8b9b9b9babababbbbbbbcbcbcbdbdbdbebebebfbfbf"
                                  "c0c0c0c1c1c1c2c2c2c3c3c3c4c4c4c5c5c5c6c6c6c7c7c7"
                                  "c8c8c8c9c9c9cacacacbcbcbcccccccdcdcdcecececfcfcf"
                                  "d0d0d0d1d1d1d2d2d2d3d3d3d4d4d4d5d5d5d6d6d6d7d7d7"
                                  "d8d8d8d9d9d9dadadadbdbdbdcdcdcdddddddedededfdfdf"
                                  "e0e0e0e1e1e1e2e2e2e3e3e3e4e4e4e5e5e5e6e6e6e7e7e7"
                                  "e8e8e8e9e9e9eaeaeaebebebecececedededeeeeeeefefef"
                                  "f0f0f0f1f1f1f2f2f2f3f3f3f4f4f4f5f5f5f6f6f6f7f7f7"
                                  "f8f8f8f9f9f9fafafafbfbfbfcfcfcfdfdfdfefefeffffff");

constexpr Palette viridis = from_hex("44015444025645045745055946075a46085c460a5d460b5e"
                                     "470d60470e61471063471164471365481467481668481769"
                                     "48186a481a6c481b6d481c6e481d6f481f70482071482173"
                                     "482374482475482576482677482878482979472a7a472c7a"
                                     "472d7b472e7c472f7d46307e46327e46337f463480453581"
                                     "453781453882443983443a83443b84433d84433e85423f85"
                                     "4240864241864142874144874045884046883f47883f4889"
                                     "3e49893e4a893e4c8a3d4d8a3d4e8a3c4f8a3c508b3b518b"
                                     "3b528b3a538b3a548c39558c39568c38588c38598c375a8c"
                                     "375b8d365c8d365d8d355e8d355f8d34608d34618d33628d"
                                     "33638d32648e32658e31668e31678e31688e30698e306a8e"
                                     "2f6b8e2f6c8e2e6d8e2e6e8e2e6f8e2d708e2d718e2c718e"
                                     "2c728e2c738e2b748e2b758e2a768e2a778e2a788e29798e"
                                     "297a8e297b8e287c8e287d8e277e8e277f8e27808e26818e"
                                     "26828e26828e25838e25848e25858e24868e24878e23888e"
                                     "23898e238a8d228b8d228c8d228d8d218e8d218f8d21908d"
                                     "21918c20928c20928c20938c1f948c1f958b1f968b1f978b"
                                     "1f988b1f998a1f9a8a1e9b8a1e9c891e9d891f9e891f9f88"
                                     "1fa0881fa1881fa1871fa28720a38620a48621a58521a685"
                                     "22a78522a88423a98324aa8325ab8225ac8226ad8127ad81"
                                     "28ae8029af7f2ab07f2cb17e2db27d2eb37c2fb47c31b57b"
                                     "32b67a34b67935b77937b87838b9773aba763bbb753dbc74"
                                     "3fbc7340bd7242be7144bf7046c06f48c16e4ac16d4cc26c"
                                     "4ec36b50c46a52c56954c56856c66758c7655ac8645cc863"
                                     "5ec96260ca6063cb5f65cb5e67cc5c69cd5b6ccd5a6ece58"
                                     "70cf5773d05675d05477d1537ad1517cd2507fd34e81d34d"
                                     "84d44b86d54989d5488bd6468ed64590d74393d74195d840"
                                     "98d83e9bd93c9dd93ba0da39a2da37a5db36a8db34aadc32"
                                     "addc30b0dd2fb2dd2db5de2bb8de29bade28bddf26c0df25"
                                     "c2df23c5e021c8e020cae11fcde11dd0e11cd2e21bd5e21a"
                                     "d8e219dae319dde318dfe318e2e418e5e419e7e419eae51a"
                                     "ece51befe51cf1e51df4e61ef6e620f8e621fbe723fde725");

constexpr Palette magma = from_hex("00000401000501010601010802010902020b02020d03030f"
                                   "03031204041405041606051806051a07061c08071e090720"
                                   "0a08220b09240c09260d0a290e0b2b100b2d110c2f120d31"
                                   "130d34140e36150e38160f3b180f3d19103f1a10421c1044"
                                   "1d11471e114920114b21114e221150241253251255271258"
                                   "29115a2a115c2c115f2d11612f1163311165331067341069"
                                   "36106b38106c390f6e3b0f703d0f713f0f72400f74420f75"
                                   "440f764510774710784910784a10794c117a4e117b4f127b"
                                   "51127c52137c54137d56147d57157e59157e5a167e5c167f"
                                   "5d177f5f187f601880621980641a80651a80671b80681c81"
                                   "6a1c816b1d816d1d816e1e81701f81721f81732081752181"
                                   "7621817822817922827b23827c23827e2482802582812581"
                                   "8326818426818627818827818928818b29818c29818e2a81"
                                   "902a81912b81932b80942c80962c80982d80992d809b2e7f"
                                   "9c2e7f9e2f7fa02f7fa1307ea3307ea5317ea6317da8327d"
                                   "aa337dab337cad347cae347bb0357bb2357bb3367ab5367a"
                                   "b73779b83779ba3878bc3978bd3977bf3a77c03a76c23b75"
                                   "c43c75c53c74c73d73c83e73ca3e72cc3f71cd4071cf4070"
                                   "d0416fd2426fd3436ed5446dd6456cd8456cd9466bdb476a"
                                   "dc4869de4968df4a68e04c67e24d66e34e65e44f64e55064"
                                   "e75263e85362e95462ea5661eb5760ec5860ed5a5fee5b5e"
                                   "ef5d5ef05f5ef1605df2625df2645cf3655cf4675cf4695c"
                                   "f56b5cf66c5cf66e5cf7705cf7725cf8745cf8765cf9785d"
                                   "f9795df97b5dfa7d5efa7f5efa815ffb835ffb8560fb8761"
                                   "fc8961fc8a62fc8c63fc8e64fc9065fd9266fd9467fd9668"
                                   "fd9869fd9a6afd9b6bfe9d6cfe9f6dfea16efea36ffea571"
                                   "fea772fea973feaa74feac76feae77feb078feb27afeb47b"
                                   "feb67cfeb77efeb97ffebb81febd82febf84fec185fec287"
                                   "fec488fec68afec88cfeca8dfecc8ffecd90fecf92fed194"
                                   "fed395fed597fed799fed89afdda9cfddc9efddea0fde0a1"
                                   "fde2a3fde3a5fde5a7fde7a9fde9aafdebacfcecaefceeb0"
                                   "fcf0b2fcf2b4fcf4b6fcf6b8fcf7b9fcf9bbfcfbbdfcfdbf");

constexpr Palette inferno = from_hex("00000401000501010601010802010a02020c02020e030210"
                                     "04031204031405041706041907051b08051d09061f0a0722"
                                     "0b07240c08260d08290e092b10092d110a30120a32140b34"
                                     "150b37160b39180c3c190c3e1b0c411c0c431e0c451f0c48"
                                     "210c4a230c4c240c4f260c51280b53290b552b0b572d0b59"
                                     "2f0a5b310a5c320a5e340a5f3609613809623909633b0964"
                                     "3d09653e0966400a67420a68440a68450a69470b6a490b6a"
                                     "4a0c6b4c0c6b4d0d6c4f0d6c510e6c520e6d540f6d550f6d"
                                     "57106e59106e5a116e5c126e5d126e5f136e61136e62146e"
                                     "64156e65156e67166e69166e6a176e6c186e6d186e6f196e"
                                     "71196e721a6e741a6e751b6e771c6d781c6d7a1d6d7c1d6d"
                                     "7d1e6d7f1e6c801f6c82206c84206b85216b87216b88226a"
                                     "8a226a8c23698d23698f2469902568922568932667952667"
                                     "9727669827669a28659b29649d29649f2a63a02a63a22b62"
                                     "a32c61a52c60a62d60a82e5fa92e5eab2f5ead305dae305c"
                                     "b0315bb1325ab3325ab43359b63458b73557b93556ba3655"
                                     "bc3754bd3853bf3952c03a51c13a50c33b4fc43c4ec63d4d"
                                     "c73e4cc83f4bca404acb4149cc4248ce4347cf4446d04545"
                                     "d24644d34743d44842d54a41d74b3fd84c3ed94d3dda4e3c"
                                     "db503bdd513ade5238df5337e05536e15635e25734e35933"
                                     "e45a31e55c30e65d2fe75e2ee8602de9612bea632aeb6429"
                                     "eb6628ec6726ed6925ee6a24ef6c23ef6e21f06f20f1711f"
                                     "f1731df2741cf3761bf37819f47918f57b17f57d15f67e14"
                                     "f68013f78212f78410f8850ff8870ef8890cf98b0bf98c0a"
                                     "f98e09fa9008fa9207fa9407fb9606fb9706fb9906fb9b06"
                                     "fb9d07fc9f07fca108fca309fca50afca60cfca80dfcaa0f"
                                     "fcac11fcae12fcb014fcb216fcb418fbb61afbb81dfbba1f"
                                     "fbbc21fbbe23fac026fac228fac42afac62df9c72ff9c932"
                                     "f9cb35f8cd37f8cf3af7d13df7d340f6d543f6d746f5d949"
                                     "f5db4cf4dd4ff4df53f4e156f3e35af3e55df2e661f2e865"
                                     "f2ea69f1ec6df1ed71f1ef75f1f179f2f27df2f482f3f586"
                                     "f3f68af4f88ef5f992f6fa96f8fb9af9fc9dfafda1fcffa4");

constexpr Palette plasma = from_hex("0d088710078813078916078a19068c1b068d1d068e20068f"
                                    "2206902406912605912805922a05932c05942e05952f0596"
                                    "31059733059735049837049938049a3a049a3c049b3e049c"
                                    "3f049c41049d43039e44039e46039f48039f4903a04b03a1"
                                    "4c02a14e02a25002a25102a35302a35502a45601a45801a4"
                                    "5901a55b01a55c01a65e01a66001a66100a76300a76400a7"
                                    "6600a76700a86900a86a00a86c00a86e00a86f00a87100a8"
                                    "7201a87401a87501a87701a87801a87a02a87b02a87d03a8"
                                    "7e03a88004a88104a78305a78405a78606a68707a68808a6"
                                    "8a09a58b0aa58d0ba58e0ca48f0da4910ea3920fa39410a2"
                                    "9511a19613a19814a099159f9a169f9c179e9d189d9e199d"
                                    "a01a9ca11b9ba21d9aa31e9aa51f99a62098a72197a82296"
                                    "aa2395ab2494ac2694ad2793ae2892b02991b12a90b22b8f"
                                    "b32c8eb42e8db52f8cb6308bb7318ab83289ba3388bb3488"
                                    "bc3587bd3786be3885bf3984c03a83c13b82c23c81c33d80"
                                    "c43e7fc5407ec6417dc7427cc8437bc9447aca457acb4679"
                                    "cc4778cc4977cd4a76ce4b75cf4c74d04d73d14e72d24f71"
                                    "d35171d45270d5536fd5546ed6556dd7566cd8576bd9586a"
                                    "da5a6ada5b69db5c68dc5d67dd5e66de5f65de6164df6263"
                                    "e06363e16462e26561e26660e3685fe4695ee56a5de56b5d"
                                    "e66c5ce76e5be76f5ae87059e97158e97257ea7457eb7556"
                                    "eb7655ec7754ed7953ed7a52ee7b51ef7c51ef7e50f07f4f"
                                    "f0804ef1814df1834cf2844bf3854bf3874af48849f48948"
                                    "f58b47f58c46f68d45f68f44f79044f79143f79342f89441"
                                    "f89540f9973ff9983ef99a3efa9b3dfa9c3cfa9e3bfb9f3a"
                                    "fba139fba238fca338fca537fca636fca835fca934fdab33"
                                    "fdac33fdae32fdaf31fdb130fdb22ffdb42ffdb52efeb72d"
                                    "feb82cfeba2cfebb2bfebd2afebe2afec029fdc229fdc328"
                                    "fdc527fdc627fdc827fdca26fdcb26fccd25fcce25fcd025"
                                    "fcd225fbd324fbd524fbd724fad824fada24f9dc24f9dd25"
                                    "f8df25f8e125f7e225f7e425f6e626f6e826f5e926f5eb27"
                                    "f4ed27f3ee27f3f027f2f227f1f426f1f525f0f724f0f921");

constexpr Palette cividis = from_hex("00224e00234f002451002553002554002656002758002859"
                                     "00285b00295d002a5f002a61002b62002c64002c66002d68"
                                     "002e6a002e6c002f6d00306f003070003170003171013271"
                                     "0533710833700c34700f357012357014367016377018376f"
                                     "1a386f1c396f1e3a6f203a6f213b6e233c6e243c6e263d6e"
                                     "273e6e293f6e2a3f6d2b406d2d416d2e416d2f426d31436d"
                                     "32436d33446d34456c35456c36466c38476c39486c3a486c"
                                     "3b496c3c4a6c3d4a6c3e4b6c3f4c6c404c6c414d6c424e6c"
                                     "434e6c444f6c45506c46516c47516c48526c49536c4a536c"
                                     "4b546c4c556c4d556c4e566c4f576c50576c51586d52596d"
                                     "535a6d545a6d555b6d555c6d565c6d575d6d585e6d595e6e"
                                     "5a5f6e5b606e5c616e5d616e5e626e5e636f5f636f60646f"
                                     "61656f62656f636670646770656870656870666970676a71"
                                     "686a71696b716a6c716b6d726c6d726c6e726d6f726e6f73"
                                     "6f7073707173717274727274727374737475747475757575"
                                     "7676767777767777777878777979777a7a787b7a787c7b78"
                                     "7d7c787e7c787e7d787f7e78807f78817f78828079838179"
                                     "8482798582798683798784788885788985788a86788b8778"
                                     "8c88788d88788e89788f8a78908b78918b78928c78928d78"
                                     "938e78948e77958f779690779791779892779992779a9376"
                                     "9b94769c95769d95769e96769f9775a09875a19975a29975"
                                     "a39a74a49b74a59c74a69c74a79d73a89e73a99f73aaa073"
                                     "aba072aca172ada272aea371afa471b0a571b1a570b3a670"
                                     "b4a76fb5a86fb6a96fb7a96eb8aa6eb9ab6dbaac6dbbad6d"
                                     "bcae6cbdae6cbeaf6bbfb06bc0b16ac1b26ac2b369c3b369"
                                     "c4b468c5b568c6b667c7b767c8b866c9b965cbb965ccba64"
                                     "cdbb63cebc63cfbd62d0be62d1bf61d2c060d3c05fd4c15f"
                                     "d5c25ed6c35dd7c45cd9c55cdac65bdbc75adcc859ddc858"
                                     "dec958dfca57e0cb56e1cc55e2cd54e4ce53e5cf52e6d051"
                                     "e7d150e8d24fe9d34eead34cebd44bedd54aeed649efd748"
                                     "f0d846f1d945f2da44f3db42f5dc41f6dd3ff7de3ef8df3c"
                                     "f9e03afbe138fce236fde334fee434fee535fee636fee838");

constexpr Palette coolwarm = from_hex("3b4cc03c4ec23d50c33e51c53f53c64055c84257c94358cb"
                                      "445acc455cce465ecf485fd14961d24a63d34b64d54c66d6"
                                      "4e68d84f69d9506bda516ddb536edd5470de5572df5673e0"
                                      "5875e15977e35a78e45b7ae55d7ce65e7de75f7fe86180e9"
                                      "6282ea6384eb6485ec6687ed6788ee688aef6a8bef6b8df0"
                                      "6c8ff16e90f26f92f37093f37295f47396f57597f67699f6"
                                      "779af7799cf87a9df87b9ff97da0f97ea1fa80a3fa81a4fb"
                                      "82a6fb84a7fc85a8fc86a9fc88abfd89acfd8badfd8caffe"
                                      "8db0fe8fb1fe90b2fe92b4fe93b5fe94b6ff96b7ff97b8ff"
                                      "98b9ff9abbff9bbcff9dbdff9ebeff9fbfffa1c0ffa2c1ff"
                                      "a3c2fea5c3fea6c4fea7c5fea9c6fdaac7fdabc8fdadc9fd"
                                      "aec9fcafcafcb1cbfcb2ccfbb3cdfbb5cdfab6cefab7cff9"
                                      "b9d0f9bad0f8bbd1f8bcd2f7bed2f6bfd3f6c0d4f5c1d4f4"
                                      "c3d5f4c4d5f3c5d6f2c6d6f1c7d7f0c9d7f0cad8efcbd8ee"
                                      "ccd9edcdd9eccedaebcfdaead1dae9d2dbe8d3dbe7d4dbe6"
                                      "d5dbe5d6dce4d7dce3d8dce2d9dce1dadce0dbdcdedcdddd"
                                      "dddcdcdedcdbdfdbd9e0dbd8e1dad6e2dad5e3d9d3e4d9d2"
                                      "e5d8d1e6d7cfe7d7cee8d6cce9d5cbead5c9ead4c8ebd3c6"
                                      "ecd3c5edd2c3edd1c2eed0c0efcfbfefcebdf0cdbbf1cdba"
                                      "f1ccb8f2cbb7f2cab5f2c9b4f3c8b2f3c7b1f4c6aff4c5ad"
                                      "f5c4acf5c2aaf5c1a9f5c0a7f6bfa6f6bea4f6bda2f7bca1"
                                      "f7ba9ff7b99ef7b89cf7b79bf7b599f7b497f7b396f7b194"
                                      "f7b093f7af91f7ad90f7ac8ef7aa8cf7a98bf7a889f7a688"
                                      "f6a586f6a385f6a283f5a081f59f80f59d7ef59c7df49a7b"
                                      "f4987af39778f39577f39475f29274f29072f18f71f18d6f"
                                      "f08b6ef08a6cef886bee8669ee8468ed8366ec8165ec7f63"
                                      "eb7d62ea7b60e97a5fe9785de8765ce7745be67259e57058"
                                      "e46e56e36c55e36b54e26952e16751e0654fdf634ede614d"
                                      "dd5f4bdc5d4ada5a49d95847d85646d75445d65244d55042"
                                      "d44e41d24b40d1493fd0473dcf453ccd423bcc403acb3e38"
                                      "ca3b37c83836c73635c53334c43032c32e31c12b30c0282f"
                                      "be242ebd1f2dbb1b2cba162bb8122ab70d28b50927b40426");

struct NamedMap {
    std::string_view name;
    const Palette* palette;
};
constexpr NamedMap maps[] = {
    {"gray", &gray},     {"viridis", &viridis}, {"magma", &magma},       {"inferno", &inferno},
    {"plasma", &plasma}, {"cividis", &cividis}, {"coolwarm", &coolwarm},
};
constexpr std::string_view names[] = {
    "gray", "viridis", "magma", "inferno", "plasma", "cividis", "coolwarm",
};

} // namespace

const Palette* find_colour_map(std::string_view name) {
    for (const NamedMap& map : maps)
        if (map.name == name) return map.palette;
    return nullptr;
}

std::span<const std::string_view> colour_map_names() {
    return names;
}

} // namespace graygif
